// The main window's controls as designed: names, captions, geometry, fonts, colours, tab order.
#pragma once

class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

struct Form1Ui {
    QPushButton* PushButton13 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLineEdit* Text3 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    void setupUi(QWidget* form);
};
