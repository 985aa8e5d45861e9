#pragma once

#include "exchange/session/ProgressMeter.h"
#include "transfer/job/PhotoPackaging.h"
#include "zip/Zip.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tevrak {

// The packaging progress window "Process Zip...": created hidden at start-up
// and kept for the whole run. It holds the archive writer Zip1 with the
// packaging settings; while a photograph is packed it shows the photograph's
// path and the writer's progress over the archive run, and over the whole
// packing the document's place, the bytes packed and the time left. Its
// "ยกเลิก" button asks the Transfer to stop (cancelPressed) before the next
// document.
class TZipf : public QWidget {
    Q_OBJECT
public:
    explicit TZipf(QWidget* parent = nullptr);
    ~TZipf() override;

    // Zip1's OnBegin: the photograph about to be stored.
    void Zip1Begin(TZip& sender, const std::string& fileName, int count, bool& extract);
    // Zip1's OnProgress: the percentage of the archive run done.
    void Zip1Progress(TZip& sender, std::uint8_t byFile, std::uint8_t byArchive);

    // Where the whole packing stands.
    void showProgress(const exchange::ProgressReport& report);

    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* PlaceLabel = nullptr;
    QLabel* AmountLabel = nullptr;
    QPushButton* CancelButton = nullptr;
    TZip Zip1;

signals:
    void cancelPressed();
};

namespace transfer {

// Packs the outbox's GIF documents into their claims' archives, one writer
// run of Zipf.Zip1 per document, with Zipf shown during each run (see
// packOutboxGifs; the events go into the workstation's transfer history). A
// document that cannot be packed stays in the outbox and is in the result.
// While it runs, pending window events are handled at every progress report
// (the caller keeps its own windows from taking input meanwhile).
PackingResult ZipFile(TZipf& Zipf);

} // namespace transfer

} // namespace tevrak
