/* Tabulary skin 1 */
/*
 * The skin of the start window: a Qt style sheet. The first line above is
 * the signature the program checks; it must stay the file's first line,
 * exactly as written. The file is UTF-8 text.
 *
 * Lines of the form  / * @section NAME * /  (without the inner spaces)
 * start a section that runs to the next such line or the end of the file:
 *   children  the window's controls, used when child controls are skinned
 *   hover     :hover looks, used when hover effects are on
 *   focus     :focus frames, used when focus frames are on
 * Everything before the first section is always used.
 *
 * The window's background and the fonts are set by the program, and the
 * controls sit at fixed places: rules here change colours, borders and
 * corners only, never fonts, sizes or the space a control takes.
 */

QGroupBox {
    border: 1px solid #b4bec9;
    border-radius: 4px;
    margin-top: 7px;
    background: transparent;
    font-weight: bold;
    color: #1f3a5c;
}

QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 8px;
    padding: 0px 3px;
    background: palette(button);
}

QLabel {
    background: transparent;
    color: #26323f;
}

/* @section children */

QLineEdit {
    background: #ffffff;
    color: #1b232c;
    border: 1px solid #a7b2be;
    border-radius: 3px;
    padding: 0px 2px;
    selection-background-color: #3d7cc9;
    selection-color: #ffffff;
}

QLineEdit:read-only {
    background: #fbfcfd;
}

QLineEdit:disabled {
    background: #f3f5f7;
    color: #8a949e;
}

QPushButton {
    color: #1b232c;
    border: 1px solid #97a3b0;
    border-radius: 3px;
    padding: 0px;
    background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                stop: 0 #ffffff, stop: 1 palette(button));
}

QPushButton:pressed {
    background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                stop: 0 palette(button), stop: 1 #f4f6f8);
}

QPushButton:disabled {
    color: #8a949e;
    border-color: #c3cad2;
}

/* @section hover */

QLineEdit:hover {
    border-color: #7f9fc4;
}

QPushButton:hover {
    border-color: #7f9fc4;
    background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                stop: 0 #ffffff, stop: 1 #e6eef8);
}

QPushButton:hover:pressed {
    background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                stop: 0 #dde7f3, stop: 1 #f4f7fb);
}

/* @section focus */

QLineEdit:focus,
QPushButton:focus {
    border-color: #3d7cc9;
}
