#pragma once

#include <QFrame>

// A thin horizontal rule between the window's sections.
class Divider : public QFrame {
    Q_OBJECT

public:
    explicit Divider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
