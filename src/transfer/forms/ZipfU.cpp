#include "transfer/forms/ZipfU.h"

#include "exchange/forms/ProgressText.h"
#include "transfer/job/PhotoPackaging.h"
#include "transfer/job/TransferLog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace tevrak {

TZipf::TZipf(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Zipf"));
    setWindowTitle(QStringLiteral("Process Zip..."));
    resize(420, 168);

    Label1 = new QLabel(QStringLiteral("Label1"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 12, 396, 22);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(12, 44, 396, 18);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);

    PlaceLabel = new QLabel(this);
    PlaceLabel->setObjectName(QStringLiteral("PlaceLabel"));
    PlaceLabel->setGeometry(12, 68, 396, 18);
    AmountLabel = new QLabel(this);
    AmountLabel->setObjectName(QStringLiteral("AmountLabel"));
    AmountLabel->setGeometry(12, 88, 396, 36);
    CancelButton = new QPushButton(QStringLiteral("ยกเลิก"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(170, 132, 80, 26);
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        CancelButton->setEnabled(false);
        AmountLabel->setText(QStringLiteral("กำลังยกเลิก รอสักครู่..."));
        emit cancelPressed();
    });

    transfer::applyPackagingSettings(Zip1);
    Zip1.OnBegin = [this](TZip& sender, const std::string& fileName, int count, bool& extract) {
        Zip1Begin(sender, fileName, count, extract);
    };
    Zip1.OnProgress = [this](TZip& sender, std::uint8_t byFile, std::uint8_t byArchive) {
        Zip1Progress(sender, byFile, byArchive);
    };
    Zip1.OnProcessMessages = [](TZip&) { QCoreApplication::processEvents(); };
}

TZipf::~TZipf() = default;

void TZipf::showProgress(const exchange::ProgressReport& report)
{
    PlaceLabel->setText(exchange::placeText(report));
    if (CancelButton->isEnabled())
        AmountLabel->setText(exchange::amountText(report));
    if (isVisible())
        repaint();
}

void TZipf::Zip1Begin(TZip&, const std::string& fileName, int, bool&)
{
    Label1->setText(QString::fromUtf8(fileName));
    if (isVisible())
        Label1->repaint();
}

void TZipf::Zip1Progress(TZip&, std::uint8_t, std::uint8_t byArchive)
{
    ProgressBar1->setValue(byArchive);
    if (isVisible())
        ProgressBar1->repaint();
}

namespace transfer {

PackingResult ZipFile(TZipf& Zipf)
{
    TransferLog log;
    return packOutboxGifs(
        Zipf.Zip1, log,
        [&Zipf](const QString&) {
            Zipf.show();
            QCoreApplication::processEvents();
        },
        [&Zipf] { Zipf.hide(); });
}

} // namespace transfer

} // namespace tevrak
