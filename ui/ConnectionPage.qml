// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Controls 2.15
import Tavrin 1.0

// The connection screen: the maker's logo and name, the version, the address
// box, the two buttons and the copyright line. Tab goes through the address
// field and the buttons in reading order, the order in which they stand here.
Item {
    property string versionName
    // The maker's logo; empty for none (a build without the update check).
    property url logoSource
    // False in a build without the update check: no update button.
    property bool updateCheckAvailable: true
    // The address as remembered; the field starts with it.
    property string rememberedAddress
    readonly property alias addressText: ipInput.text
    readonly property alias addressField: ipInput
    property color borderColor: "#dddddd"
    // Why this screen shows (phone unreachable, no note, note refused); empty: nothing to say.
    property string reasonText

    signal addressEdited(string text, bool valid)
    signal shortcutsRequested()
    signal updateCheckRequested()

    Image {
        id: logo
        objectName: "logo"
        width: 100
        height: 100
        x: (parent.width - width) / 2
        y: parent.height / 2 - height * 2
        fillMode: Image.PreserveAspectFit
        // The bundled logo stands in when the maker's cannot be fetched.
        readonly property url bundledSource: "qrc:/logo.png"
        property bool remoteFailed: false
        source: remoteFailed || logoSource.toString() === "" ? bundledSource : logoSource
        onStatusChanged: {
            if (status === Image.Error && String(source) !== String(bundledSource))
                remoteFailed = true
        }
        Accessible.role: Accessible.Graphic
        Accessible.name: qsTr("Tavrin 标志")
    }

    Label {
        id: tvName
        objectName: "tvName"
        x: (parent.width - width) / 2
        y: logo.y + logo.height + 10
        font.pixelSize: 18
        text: qsTr("Tavrin")
    }

    Label {
        id: tvVersion
        objectName: "tvVersion"
        x: (parent.width - width) / 2
        y: logo.y + logo.height + 40
        font.pixelSize: 14
        color: "#888888"
        //: %1 is the version number, e.g. 1.0.6.
        text: qsTr("V:%1").arg(versionName)
    }

    Label {
        id: tvBottom
        objectName: "tvBottom"
        x: (parent.width - width) / 2
        y: parent.height - 40
        font.pixelSize: 14
        color: "#cccccc"
        text: qsTr("Copyright © 2026 Tavrin. All rights reserved.")
    }

    Rectangle {
        id: ipLayout
        objectName: "ipLayout"
        width: 240
        height: 30
        x: (parent.width - width) / 2
        y: (parent.height - height) / 2
        radius: 2
        border.width: 2
        border.color: borderColor

        TextField {
            id: ipInput
            objectName: "ipInput"
            anchors.fill: parent
            background: null
            leftPadding: 5
            rightPadding: 5
            horizontalAlignment: TextInput.AlignHCenter
            verticalAlignment: TextInput.AlignVCenter
            font.pixelSize: 14
            cursorVisible: true
            selectByMouse: true
            placeholderText: qsTr("长按便签的扫码按钮获取IP地址")
            Accessible.role: Accessible.EditableText
            Accessible.name: qsTr("手机的IP地址")
            Accessible.description: qsTr("长按便签APP的扫码按钮即可看到手机的IP地址，然后在这里输入")
            text: rememberedAddress
            validator: AddressValidator {
                id: addressValidator
                objectName: "addressValidator"
            }
            onTextChanged: addressEdited(text, addressValidator.isValidIP(text))
        }
    }

    Label {
        id: tvReason
        objectName: "tvReason"
        width: Math.min(parent.width - 20, 320)
        x: (parent.width - width) / 2
        y: ipLayout.y + ipLayout.height + 8
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        font.pixelSize: 13
        color: "#b3261e"
        visible: reasonText !== ""
        text: reasonText
    }

    RoundButton {
        id: btnShortcut
        objectName: "btnShortcut"
        width: 160
        x: (parent.width - width) / 2
        // Alone, it takes the update button's place, next to the copyright line.
        y: parent.height - height * (updateCheckAvailable ? 4.5 : 3)
        radius: 2
        text: qsTr("快捷键说明")
        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.description: qsTr("显示全部键盘快捷键")
        onClicked: shortcutsRequested()
    }

    RoundButton {
        id: btnCheckUpdate
        objectName: "btnCheckUpdate"
        width: 160
        x: (parent.width - width) / 2
        y: parent.height - height * 3
        radius: 2
        visible: updateCheckAvailable
        text: qsTr("检查更新")
        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.description: qsTr("在官网上查找新版本")
        onClicked: updateCheckRequested()
    }
}
