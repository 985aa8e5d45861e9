#include "startup/SplashU.h"

#include "platform/widgets/Controls.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace tevrak {

namespace {

// Text drawn as 3-D extruded letters: the far layers in the button face
// colour, a shadow offset 2 x 2, the face in red.
class ExtrudedText : public QWidget {
public:
    ExtrudedText(const QString& text, const QFont& font, int depth, QWidget* parent)
        : QWidget(parent), m_text(text), m_font(font), m_depth(depth)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        const QFontMetrics metrics(m_font);
        resize(metrics.horizontalAdvance(m_text) + m_depth + 6, metrics.height() + m_depth + 6);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(m_font);
        const int baseline = QFontMetrics(m_font).ascent();
        painter.setPen(QColor(0, 0, 0, 110));
        painter.drawText(2 + m_depth, baseline + 2 + m_depth, m_text);
        painter.setPen(palette().color(QPalette::Button));
        for (int layer = m_depth; layer > 0; --layer)
            painter.drawText(layer, baseline + layer, m_text);
        painter.setPen(Qt::red);
        painter.drawText(0, baseline, m_text);
    }

private:
    QString m_text;
    QFont m_font;
    int m_depth;
};

QFont sansSerif(int pixels, bool bold, bool italic)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

}  // namespace

QImage TSplash::carPicture()
{
    QImage picture(832, 624, QImage::Format_RGB32);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 624);
    sky.setColorAt(0, QColor(120, 170, 220));
    sky.setColorAt(0.62, QColor(225, 235, 245));
    sky.setColorAt(0.63, QColor(90, 90, 95));
    sky.setColorAt(1, QColor(60, 60, 64));
    p.fillRect(picture.rect(), sky);

    // Body of a saloon car, seen from the side.
    QPainterPath body;
    body.moveTo(110, 400);
    body.lineTo(120, 330);
    body.cubicTo(150, 310, 220, 300, 270, 298);
    body.lineTo(330, 230);
    body.cubicTo(360, 205, 520, 200, 560, 228);
    body.lineTo(630, 296);
    body.cubicTo(690, 300, 730, 312, 740, 335);
    body.lineTo(745, 400);
    body.closeSubpath();
    QLinearGradient paint(0, 200, 0, 410);
    paint.setColorAt(0, QColor(200, 30, 30));
    paint.setColorAt(1, QColor(110, 10, 10));
    p.setBrush(paint);
    p.setPen(QPen(QColor(60, 0, 0), 3));
    p.drawPath(body);

    // Windows.
    QPainterPath windows;
    windows.moveTo(295, 296);
    windows.lineTo(345, 240);
    windows.cubicTo(370, 222, 420, 220, 430, 222);
    windows.lineTo(430, 296);
    windows.closeSubpath();
    windows.moveTo(445, 296);
    windows.lineTo(445, 222);
    windows.cubicTo(500, 222, 535, 228, 550, 240);
    windows.lineTo(600, 296);
    windows.closeSubpath();
    p.setBrush(QColor(170, 205, 235));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawPath(windows);

    // Wheels.
    for (const int x : {235, 625}) {
        p.setBrush(QColor(25, 25, 25));
        p.drawEllipse(QPointF(x, 400), 58, 58);
        p.setBrush(QColor(190, 190, 195));
        p.drawEllipse(QPointF(x, 400), 28, 28);
    }
    // Lamps.
    p.setBrush(QColor(255, 240, 160));
    p.drawEllipse(QRectF(715, 330, 22, 16));
    p.setBrush(QColor(255, 120, 40));
    p.drawRect(QRectF(116, 338, 12, 18));
    return picture;
}

TSplash::TSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Splash"));
    setFixedSize(632, 453);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(rect());
    Panel1->setAutoFillBackground(true);
    QPalette silver = Panel1->palette();
    silver.setColor(QPalette::Window, QColor(192, 192, 192));
    Panel1->setPalette(silver);

    Image1 = new platform::ImageControl(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Panel1->contentsRect());
    Image1->setPicture(carPicture());

    Label1 = new ExtrudedText(QStringLiteral("บริษัท Norvathaประกันภัย จำกัด"), sansSerif(24, false, false), 12,
                              Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(164, 373);
    Label2 = new ExtrudedText(QStringLiteral("TEVRAK"), sansSerif(16, true, true), 4, Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(273, 413);

    Bevel1 = new QFrame(Panel1);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Raised);
    Bevel1->setGeometry(238, 445, 156, 2);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

}  // namespace tevrak
