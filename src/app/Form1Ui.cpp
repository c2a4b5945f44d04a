#include "Form1Ui.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <cmath>

namespace {

constexpr int kTwipsPerPixel = 15;

int px(int twips) {
    return static_cast<int>(std::lround(double(twips) / kTwipsPerPixel));
}

void place(QWidget* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(name);
    w->setGeometry(px(left), px(top), px(width), px(height));
}

void setWhiteBackground(QWidget* w) {
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Button, Qt::white);
    w->setPalette(palette);
    w->setAutoFillBackground(true);
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width, int height) {
    auto* button = new QPushButton(caption, parent);
    place(button, name, left, top, width, height);
    QFont font("Arial");
    font.setPointSizeF(11.25);
    font.setBold(true);
    button->setFont(font);
    setWhiteBackground(button);
    button->setMouseTracking(true);
    return button;
}

}  // namespace

void Form1Ui::setupUi(QWidget* form) {
    form->setObjectName("Form1");
    form->setWindowTitle("Form1");
    QFont font("Arial");
    font.setPointSizeF(9);
    font.setBold(true);
    form->setFont(font);
    setWhiteBackground(form);
    form->setFixedSize(px(8040), px(2580));
    form->setMouseTracking(true);

    PushButton13 = makeButton(form, "PushButton13", "Help", 120, 120, 7800, 405);

    Frame3 = new QGroupBox("Save Results To This File", form);
    place(Frame3, "Frame3", 120, 585, 7800, 825);
    setWhiteBackground(Frame3);
    Frame3->setMouseTracking(true);

    Text3 = new QLineEdit(Frame3);
    place(Text3, "Text3", 240, 300, 6615, 345);

    PushButton2 = makeButton(Frame3, "PushButton2", "...", 6960, 300, 600, 345);
    PushButton6 = makeButton(form, "PushButton6", "Start Recording", 120, 1530, 7800, 405);

    ProgressBar1 = new QProgressBar(form);
    place(ProgressBar1, "ProgressBar1", 120, 2050, 7800, 405);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat("Progress Bar");
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    setWhiteBackground(ProgressBar1);

    QWidget::setTabOrder(Text3, PushButton2);
    QWidget::setTabOrder(PushButton2, PushButton6);
    QWidget::setTabOrder(PushButton6, PushButton13);
    Frame3->setFocusPolicy(Qt::NoFocus);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
}
