#include "exchange/forms/CopyfU.h"

#include "exchange/forms/ProgressText.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimerEvent>

namespace tevrak {

namespace exchange {

CopyAnimation::CopyAnimation(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Animate1"));
    setFixedSize(272, 60);
}

void CopyAnimation::showEvent(QShowEvent*)
{
    if (m_active && !m_timer)
        m_timer = startTimer(60);
}

void CopyAnimation::hideEvent(QHideEvent*)
{
    if (m_timer)
        killTimer(m_timer);
    m_timer = 0;
}

void CopyAnimation::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer)
        return QWidget::timerEvent(event);
    m_frame = m_frame >= StopFrame ? 0 : m_frame + 1;
    update();
}

namespace {

void drawFolder(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(128, 96, 0), 1));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(QRectF(r.left(), r.top() + 6, r.width(), r.height() - 6));
    p.drawRect(QRectF(r.left(), r.top(), r.width() * 0.4, 6));
    p.setBrush(QColor(255, 224, 120));
    p.drawRect(QRectF(r.left(), r.top() + 12, r.width(), r.height() - 12));
}

} // namespace

void CopyAnimation::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF from(8, 18, 48, 36);
    const QRectF to(width() - 56, 18, 48, 36);
    drawFolder(p, from);
    drawFolder(p, to);

    // The sheet rises out of the first folder, arcs over and drops into the second.
    const double t = double(m_frame) / StopFrame;
    const double x = from.center().x() + (to.center().x() - from.center().x()) * t;
    const double y = from.top() + 4 - 36 * 4 * t * (1 - t);
    p.save();
    p.translate(x, y);
    p.rotate(-20 + 40 * t);
    p.setPen(QPen(Qt::darkGray, 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(-9, -12, 18, 24));
    p.setPen(QPen(QColor(80, 80, 160), 1));
    for (int line = 0; line < 4; ++line)
        p.drawLine(QPointF(-6, -7 + line * 5), QPointF(6, -7 + line * 5));
    p.restore();
}

} // namespace exchange

TCopyf::TCopyf(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Copyf"));
    setWindowTitle(QStringLiteral("Copying..."));
    setModal(false);
    setFixedSize(360, 232);

    Animate1 = new exchange::CopyAnimation(this);
    Animate1->move(44, 6);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 70, 336, 18);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(12, 90, 336, 18);

    PlaceLabel = new QLabel(this);
    PlaceLabel->setObjectName(QStringLiteral("PlaceLabel"));
    PlaceLabel->setGeometry(12, 110, 336, 18);

    AmountLabel = new QLabel(this);
    AmountLabel->setObjectName(QStringLiteral("AmountLabel"));
    AmountLabel->setGeometry(12, 130, 336, 36);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(12, 172, 336, 16);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    BitBtn1 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(140, 198, 80, 26);
    connect(BitBtn1, &QPushButton::clicked, this, &TCopyf::pressCancel);
}

void TCopyf::reject()
{
    pressCancel();
}

void TCopyf::pressCancel()
{
    if (m_cancelling || !isVisible())
        return;
    m_cancelling = true;
    BitBtn1->setEnabled(false);
    AmountLabel->setText(QStringLiteral("กำลังยกเลิก รอสักครู่..."));
    repaintNow();
    emit cancelPressed();
}

TCopyf::~TCopyf() = default;

void TCopyf::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TCopyf::startPhase()
{
    m_cancelling = false;
    BitBtn1->setEnabled(true);
    Label1->clear();
    PlaceLabel->clear();
    AmountLabel->clear();
    ProgressBar1->setValue(0);
    show();
    raise();
}

void TCopyf::startUpload()
{
    startPhase();
    Label2->clear();
}

void TCopyf::startDownload()
{
    startPhase();
    Label2->setText(QStringLiteral("รับไฟล์จากสาขา ไปที่ c:\\LOAD"));
}

void TCopyf::showFile(const QString& name, const QString& garageName)
{
    Label1->setText(name);
    Label2->setText(QStringLiteral("From 'Transfer' to '") + garageName + QLatin1Char('\''));
    repaintNow();
}

void TCopyf::showProgress(const exchange::ProgressReport& report)
{
    if (report.stage == exchange::ProgressStage::Receiving)
        Label1->setText(report.fileName);
    PlaceLabel->setText(exchange::placeText(report));
    if (!m_cancelling)
        AmountLabel->setText(exchange::amountText(report));
    ProgressBar1->setValue(std::max(ProgressBar1->value(), exchange::permille(report)));
    repaintNow();
}

void TCopyf::repaintNow()
{
    // At most every 40 ms: a repaint per file cost a sixth of a fast line's Transfer.
    if (!isVisible() || (m_sinceRepaint.isValid() && m_sinceRepaint.elapsed() < 40))
        return;
    repaint();
    m_sinceRepaint.start();
}

} // namespace tevrak
