import QtQuick 2.15
import QtQuick.Controls 2.15

// The one message facility: a title and a wrapping text.
TitledDialog {
    property alias text: msgLabel.text

    width: 280
    x: parent.width / 2 - width / 2
    y: parent.height / 2 - height / 2

    Label {
        id: msgLabel
        objectName: "msgLabel"
        width: 280
        font.pixelSize: 16
        lineHeight: 1.5
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
    }
}
