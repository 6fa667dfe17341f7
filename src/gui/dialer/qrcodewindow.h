#pragma once

#include <QDialog>
#include <QImage>

namespace korvana {

// A QR code drawn module by module: each module is a whole number of the
// screen's device pixels, so the code stays sharp at any screen scale.
class QrCodeView : public QWidget {
    Q_OBJECT
public:
    // Error correction M, a quiet zone of four modules around the code. A
    // text the code cannot hold leaves the view empty.
    explicit QrCodeView(const QString &text, QWidget *parent = nullptr);

    bool isEmpty() const { return m_modules.isNull(); }
    // Modules across, quiet zone included.
    int modules() const { return m_modules.width(); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_modules; // one pixel per module, quiet zone included
};

// The number of an entry as a QR code of its tel: link, for a phone's
// camera to dial, with the number in large digits and the entry's name
// under it. Modal over `parent`; Escape or Enter closes it.
class QrCodeWindow : public QDialog {
    Q_OBJECT
public:
    QrCodeWindow(const QString &link, const QString &number, const QString &name,
                 QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace korvana
