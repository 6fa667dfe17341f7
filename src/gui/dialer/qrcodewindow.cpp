#include "gui/dialer/qrcodewindow.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <qrencode.h>

#include <cmath>
#include <memory>

namespace korvana {

namespace {

constexpr int kQuietZone = 4;
// Logical pixels per module the view asks for: a phone reads it from an
// arm's length.
constexpr int kModulePixels = 6;

QImage encode(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return {};
    const int side = code->width + 2 * kQuietZone;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                image.scanLine(y + kQuietZone)[x + kQuietZone] = 0;
    return image;
}

} // namespace

QrCodeView::QrCodeView(const QString &text, QWidget *parent)
    : QWidget(parent), m_modules(encode(text))
{
    setObjectName(QStringLiteral("QrCode"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize QrCodeView::sizeHint() const
{
    const int side = m_modules.isNull() ? 0 : m_modules.width() * kModulePixels;
    return {side, side};
}

void QrCodeView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_modules.isNull())
        return;
    // Whole device pixels per module, scaled without smoothing.
    const qreal ratio = devicePixelRatioF();
    const int room = int(std::floor(std::min(width(), height()) * ratio));
    const int scale = std::max(1, room / m_modules.width());
    QImage scaled = m_modules.scaled(m_modules.size() * scale, Qt::IgnoreAspectRatio,
                                     Qt::FastTransformation);
    scaled.setDevicePixelRatio(ratio);
    const QSizeF shown = scaled.deviceIndependentSize();
    painter.drawImage(QPointF(std::floor((width() - shown.width()) / 2),
                              std::floor((height() - shown.height()) / 2)),
                      scaled);
}

QrCodeWindow::QrCodeWindow(const QString &link, const QString &number, const QString &name,
                           QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("QrCodeWindow"));
    setWindowTitle(QStringLiteral("Korvana"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QrCodeView(link, this), 1);

    auto *digits = new QLabel(number, this);
    digits->setObjectName(QStringLiteral("QrNumber"));
    digits->setTextFormat(Qt::PlainText);
    digits->setAlignment(Qt::AlignCenter);
    QFont large = digits->font();
    large.setPointSizeF(large.pointSizeF() * 2.5);
    large.setBold(true);
    digits->setFont(large);
    layout->addWidget(digits);

    auto *caption = new QLabel(name, this);
    caption->setObjectName(QStringLiteral("QrName"));
    caption->setTextFormat(Qt::PlainText);
    caption->setAlignment(Qt::AlignCenter);
    caption->setWordWrap(true);
    layout->addWidget(caption);
}

void QrCodeWindow::keyPressEvent(QKeyEvent *event)
{
    // Escape closes a dialog already; Enter has no button to press here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace korvana
