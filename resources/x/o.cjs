/* Sample skin for Vocorda Call Recorder: a Qt style sheet.
   Copy this folder "x" beside the program (so that x/o.cjs sits next to it) to use it. */
QWidget#Form1, QGroupBox#Frame3 {
    background-color: #e8ecf2;
}
QGroupBox#Frame3 {
    border: 1px solid #9aa6b8;
    border-radius: 4px;
    margin-top: 8px;
}
QGroupBox#Frame3::title {
    subcontrol-origin: margin;
    left: 8px;
    padding: 0 3px;
}
QPushButton {
    background-color: #2c3e5c;
    color: white;
    border: 1px solid #1d2a40;
    border-radius: 4px;
}
QPushButton:hover {
    background-color: #3b5279;
}
QPushButton:disabled {
    background-color: #8c96a8;
}
QProgressBar {
    background-color: white;
    border: 1px solid #9aa6b8;
    border-radius: 4px;
    text-align: center;
}
QProgressBar::chunk {
    background-color: #d7232d;
}
