#pragma once

class QWidget;

namespace brasko {

// The dialogs are laid out in dialog units: a quarter of the font's average character width across, an
// eighth of its height down. The forms hold their geometry in pixels for an 8-point dialog font
// (6 by 13 pixels per unit pair at 96 DPI); this scales the dialog and its direct children to the font the
// dialog actually has, so that texts fit whatever the system's fonts, and fixes the dialog's size.
void ScaleToDialogFont(QWidget& dialog);

// Draws the dialog's group boxes in Qt's "Windows" style, the frame line running through the middle of the
// title, as the forms' geometry assumes; a title above the frame would push the frame into the controls at
// the top of each box. Everything else keeps the application's style. The style object belongs to the dialog.
void UseClassicGroupBoxes(QWidget& dialog);

} // namespace brasko
