import QtQuick 2.15
import QtQuick.Controls 2.15

// A popup with one slider from 0 to 40; its title shows the whole number chosen.
TitledDialog {
    // The title, with %1 standing for the number.
    property string captionFormat
    property int shownValue
    property string sliderObjectName

    // The slider moved to `chosenValue` (rounded up to a whole number); from
    // then on the title shows the number chosen last.
    signal chosen(int chosenValue)

    x: parent.width / 2 - width / 2
    y: parent.height / 2 - height / 2
    title: captionFormat.arg(shownValue)

    Slider {
        objectName: sliderObjectName
        Accessible.name: title
        from: 0
        to: 40
        stepSize: 0
        value: shownValue
        onMoved: {
            const chosenValue = Math.ceil(value)
            title = captionFormat.arg(chosenValue)
            chosen(chosenValue)
        }
    }
}
