// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15

// A popup with one slider from 0 to 40; its title shows the whole number chosen.
TitledDialog {
    // The title, with %1 standing for the number.
    property string captionFormat
    property int shownValue
    property string sliderObjectName

    // The slider moved to `chosenValue` (rounded up to a whole number); from
    // then on the title shows the number chosen last.
    signal chosen(int chosenValue)

    // Open, the dialog holds the keyboard: the slider takes the arrow keys and
    // no key reaches the note behind it.
    focus: true
    x: parent.width / 2 - width / 2
    y: parent.height / 2 - height / 2
    title: captionFormat.arg(shownValue)

    // Closed, the keys go back where they were.
    property Item focusBefore
    onAboutToShow: focusBefore = parent.Window.activeFocusItem
    onClosed: if (focusBefore) focusBefore.forceActiveFocus()

    Slider {
        objectName: sliderObjectName
        Accessible.name: title
        from: 0
        to: 40
        stepSize: 0
        focus: true
        value: shownValue
        Keys.onPressed: event.accepted = event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab
        onMoved: {
            const chosenValue = Math.ceil(value)
            title = captionFormat.arg(chosenValue)
            chosen(chosenValue)
        }
    }
}
