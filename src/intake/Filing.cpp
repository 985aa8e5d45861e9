#include "intake/Filing.h"

#include "imaging/Pictures.h"
#include "intake/InboxPage.h"
#include "intake/guard/FilingGuard.h"
#include "intake/guard/PhotoPrint.h"
#include "intake/guard/PrintReadAhead.h"
#include "intake/guard/PrintTable.h"
#include "platform/core/ClaimFileName.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "platform/core/ProgramValues.h"
#include "platform/core/Registry.h"
#include "platform/core/StagedCopy.h"
#include "platform/widgets/Controls.h"
#include "platform/widgets/Dialogs.h"
#include "zip/ArchiveListing.h"

#include <QFile>
#include <QLineEdit>
#include <QtDebug>
#include <optional>

namespace tevrak::intake {

using platform::ClaimFileName;

namespace {

const QString gifExtension = QStringLiteral(".GIF");
const QString jpgExtension = QStringLiteral(".JPG");
// The code page the Transfer's packing stores member names in (TZip::OemCodePage).
const std::string archiveCodePage = "CP874";

// How often a filing takes the next number because another filing took the
// one it chose, before it gives up.
constexpr int maxFilingAttempts = 20;

// The JPEG and GIF files of a folder, as the file lists show them.
QStringList picturesIn(const QString& folder)
{
    return platform::listFiles(folder + QStringLiteral("\\*.jpg;") + folder + QStringLiteral("\\*.gif"));
}

// The documents packed into the claim's archive in the outbox at a Transfer
// that did not reach the server: they wait there with the archive. An archive
// that cannot be read adds nothing (the packing finds a different document of
// a name it holds and stores it under a new number).
QStringList packedNamesOf(const QString& claimNumber)
{
    const QString archive =
        platform::paths::outbox + QLatin1Char('\\') + claimNumber + QStringLiteral(".Zip");
    std::vector<ListedMember> members;
    std::string reason;
    QStringList names;
    if (listArchive(platform::nativePath(platform::localPath(archive)), archiveCodePage, members, reason) ==
        ArchiveListing::Listed) {
        for (const ListedMember& member : members)
            names << QString::fromStdString(member.name);
    }
    return names;
}

// The outbox files filed for this claim (named by the claim number and a
// sequence number) that are still waiting to be sent, loose or packed into
// the claim's archive there.
QStringList unsentNamesOf(const QString& claimNumber)
{
    QStringList names = picturesIn(platform::paths::outbox) + packedNamesOf(claimNumber);
    names.removeIf([&claimNumber](const QString& name) {
        return !ClaimFileName::sequenceOf(name) || !name.startsWith(claimNumber, Qt::CaseInsensitive);
    });
    return names;
}

}  // namespace

const Category& beforeRepairCategory()
{
    static const Category category{platform::FilingCategory::BeforeRepair, QStringLiteral("ก่อนซ่อม")};
    return category;
}
const Category& duringRepairCategory()
{
    static const Category category{platform::FilingCategory::DuringRepair, QStringLiteral("ระหว่างซ่อม")};
    return category;
}
const Category& afterRepairCategory()
{
    static const Category category{platform::FilingCategory::AfterRepair, QStringLiteral("หลังซ่อม")};
    return category;
}
const Category& documentsCategory()
{
    static const Category category{platform::FilingCategory::Documents, QStringLiteral("เอกสาร")};
    return category;
}

const Category& categoryOf(platform::FilingCategory kind)
{
    switch (kind) {
    case platform::FilingCategory::BeforeRepair:
        return beforeRepairCategory();
    case platform::FilingCategory::DuringRepair:
        return duringRepairCategory();
    case platform::FilingCategory::AfterRepair:
        return afterRepairCategory();
    case platform::FilingCategory::Documents:
        break;
    }
    return documentsCategory();
}

QString nextSequence(const QStringList& claimFolderNames, int low, int high, const QString& claimNumber,
                     const QString& categoryCaption)
{
    int best = 0;
    for (const QString& name : claimFolderNames) {
        const std::optional<int> value = ClaimFileName::sequenceOf(name);
        if (!value) {
            throw Error(QStringLiteral("ลำดับในชื่อไฟล์ไม่ใช่ตัวเลข\n'%1': %2 (เลขรับแจ้ง %3)")
                            .arg(ClaimFileName::sequencePart(name), name, claimNumber));
        }
        if (*value >= low && *value <= high && *value > best)
            best = *value;
    }
    const int next = best == 0 ? low : best + 1;
    if (next > high) {
        throw Error(QStringLiteral("หมวด %1 ของเลขรับแจ้ง %2 เต็มแล้ว (%3 ถึง %4): ไม่ได้จัดเก็บรูปภาพ")
                        .arg(categoryCaption, claimNumber)
                        .arg(low, 3, 10, QLatin1Char('0'))
                        .arg(high));
    }
    return QStringLiteral("%1").arg(next, ClaimFileName::SequenceLength, 10, QLatin1Char('0'));
}

namespace {

const QString shownDate = QStringLiteral("dd/MM/yyyy");
const QString shownMoment = QStringLiteral("dd/MM/yyyy HH:mm");

// Where a filed picture is, as the questions name it.
QString placeOf(const guard::PhotoPrint& filed)
{
    return QStringLiteral("เลขรับแจ้ง: %1\nหมวด: %2\nไฟล์: %3\nวันที่จัดเก็บ: %4")
        .arg(filed.claim, categoryOf(filed.category).caption, filed.fileName, filed.filedAt.toString(shownMoment));
}

// The thumbnail of a picture for a question; none when it cannot be read.
QImage questionThumbnail(const QString& localFile)
{
    try {
        return imaging::loadThumbnail(localFile, QSize(240, 180));
    } catch (const Error&) {
        return {};
    }
}

platform::Question questionFor(const guard::GuardWarning& warning, const QString& claimNumber,
                               const QString& inboxPicture, int maxAgeDays)
{
    platform::Question question;
    question.caption = platform::applicationTitle();
    switch (warning.kind) {
    case guard::GuardWarning::Kind::SameBytes:
        question.text = QStringLiteral("รูปนี้ถูกจัดเก็บไว้แล้ว (ไฟล์เดียวกันทุกไบต์)\n%1\n\n"
                                       "ต้องการจัดเก็บรูปนี้ภายใต้เลขรับแจ้ง %2 อีกครั้งหรือไม่?")
                            .arg(placeOf(*warning.other), claimNumber);
        break;
    case guard::GuardWarning::Kind::NearPicture: {
        question.text = QStringLiteral("รูปนี้คล้ายกับรูปที่จัดเก็บไว้แล้วภายใต้เลขรับแจ้งอื่น\n%1\n\n"
                                       "ต้องการจัดเก็บรูปนี้ภายใต้เลขรับแจ้ง %2 หรือไม่?")
                            .arg(placeOf(*warning.other), claimNumber);
        question.leftPicture = questionThumbnail(inboxPicture);
        question.leftCaption = QStringLiteral("รูปที่กำลังจัดเก็บ");
        question.rightPicture = questionThumbnail(platform::localPath(
            platform::paths::claimFolder(warning.other->claim) + QLatin1Char('\\') + warning.other->fileName));
        question.rightCaption = QStringLiteral("รูปที่จัดเก็บไว้ %1").arg(warning.other->fileName);
        break;
    }
    case guard::GuardWarning::Kind::OldPhoto:
        if (warning.garageDate.isValid()) {
            question.text = QStringLiteral("รูปนี้ถ่ายเมื่อ %1 ก่อนวันที่รถเข้าอู่ของเลขรับแจ้ง %2 (%3)\n\n"
                                           "ต้องการจัดเก็บรูปนี้หรือไม่?")
                                .arg(warning.captureTime.toString(shownMoment), claimNumber,
                                     warning.garageDate.toString(shownDate));
        } else {
            question.text = QStringLiteral("รูปนี้ถ่ายเมื่อ %1 นานกว่า %2 วันก่อนวันนี้\n"
                                           "(เลขรับแจ้ง %3 ไม่มีในรายงานรถยนต์ค้าง)\n\n"
                                           "ต้องการจัดเก็บรูปนี้หรือไม่?")
                                .arg(warning.captureTime.toString(shownMoment))
                                .arg(maxAgeDays)
                                .arg(claimNumber);
        }
        break;
    }
    return question;
}

}  // namespace

struct Filing::GuardAnswers {
    bool file = true;
    std::optional<guard::PictureFacts> facts;
    std::vector<guard::Acknowledgement> yes;
};

Filing::Filing(InboxPage& page, ProgramValues& values) : m_page(page), m_values(values)
{
    const std::initializer_list<const CategoryTarget*> targets{&page.beforeRepair, &page.duringRepair,
                                                               &page.afterRepair, &page.documents};
    for (const CategoryTarget* target : targets) {
        QObject* image = target->image;
        target->image->setDropHandlers([this](QObject* source) { return Image10DragOver(source); },
                                       [this, image](QObject* source) {
                                           platform::guard([&] { Image10DragDrop(image, source); });
                                       });
    }
    m_readAhead = std::make_unique<guard::PrintReadAhead>();
    m_pageShown = QObject::connect(&page, &InboxPage::pageShown, &page,
                                   [this](const QStringList& files) { m_readAhead->follow(files); });
}

Filing::~Filing()
{
    QObject::disconnect(m_pageShown);
}

void Filing::setGarageDates(std::function<QDate(const QString&)> garageDateOf)
{
    m_garageDateOf = std::move(garageDateOf);
}

bool Filing::openGuard()
{
    if (m_guard)
        return true;
    try {
        m_prints = std::make_unique<guard::PrintTable>(guard::PrintTable::defaultFile());
        m_guard = std::make_unique<guard::FilingGuard>(*m_prints);
        return true;
    } catch (const Error& error) {
        qWarning().noquote() << "filing without the guard:" << error.message();
        return false;
    }
}

void Filing::prepareGuard()
{
    if (!openGuard())
        return;
    try {
        m_guard->catchUp();
    } catch (const Error& error) {
        qWarning().noquote() << "the filing guard's prints:" << error.message();
    }
}

Filing::GuardAnswers Filing::askGuard(const QString& inboxPicture)
{
    GuardAnswers answers;
    if (!openGuard())
        return answers;
    std::vector<guard::GuardWarning> warnings;
    const int maxAgeDays = platform::registry::maxPhotoAgeDays();
    try {
        answers.facts = m_readAhead->take(inboxPicture);
        if (!answers.facts)
            answers.facts = guard::readPictureFacts(inboxPicture);
        const QDate garageDate = m_garageDateOf ? m_garageDateOf(m_claimNumber) : QDate();
        warnings = m_guard->check(*answers.facts, m_claimNumber, garageDate, QDate::currentDate(), maxAgeDays);
    } catch (const Error& error) {
        // A photo that cannot be read is the filing's own error to report; a
        // prints file that fails does not hold the filing up.
        qWarning().noquote() << "filing without the guard:" << error.message();
        answers.facts.reset();
        return answers;
    }
    for (const guard::GuardWarning& warning : warnings) {
        const platform::Question question = questionFor(warning, m_claimNumber, inboxPicture, maxAgeDays);
        if (!platform::dialogs().ask(question)) {
            answers.file = false;
            return answers;
        }
        guard::Acknowledgement yes;
        yes.claim = m_claimNumber;
        yes.inboxName = m_values.CurrentFileName;
        yes.warning = guard::warningName(warning.kind);
        if (warning.other) {
            yes.otherClaim = warning.other->claim;
            yes.otherFile = warning.other->fileName;
        }
        yes.shown = question.text;
        answers.yes.push_back(std::move(yes));
    }
    return answers;
}

void Filing::afterFiling(const GuardAnswers& answers, const Category& category, const QString& filedName)
{
    if (!answers.facts || !m_prints)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    try {
        guard::PhotoPrint print;
        print.claim = m_claimNumber;
        print.category = category.kind;
        print.fileName = filedName;
        print.filedAt = now;
        print.facts = *answers.facts;
        m_prints->add({print});
    } catch (const Error& error) {
        // The next start's back-fill prints it.
        qWarning().noquote() << "the print of" << filedName << "waits for the back-fill:" << error.message();
    }
    try {
        for (guard::Acknowledgement yes : answers.yes) {
            yes.at = now;
            yes.garage = m_values.GarageName;
            yes.filedName = filedName;
            m_prints->record(yes);
        }
    } catch (const Error& error) {
        throw Error(QStringLiteral("จัดเก็บ %1 เป็น %2 แล้ว แต่บันทึกคำตอบของคำเตือนไม่ได้: %3")
                        .arg(m_values.CurrentFileName, filedName, error.message()));
    }
}

bool Filing::Image10DragOver(QObject* source) const
{
    return qobject_cast<platform::ImageControl*>(source) != nullptr;
}

const Category* Filing::categoryOf(QObject* target) const
{
    if (target == m_page.beforeRepair.image)
        return &beforeRepairCategory();
    if (target == m_page.duringRepair.image)
        return &duringRepairCategory();
    if (target == m_page.afterRepair.image)
        return &afterRepairCategory();
    if (target == m_page.documents.image)
        return &documentsCategory();
    return nullptr;
}

void Filing::Image10DragDrop(QObject* target, QObject* source)
{
    const Category* category = categoryOf(target);
    if (!category)
        return;
    const QString claimNumber = m_page.Edit1->text();
    if (claimNumber.size() != ClaimFileName::ClaimLength) {
        platform::showPlainMessage(claimNumber.isEmpty() ? QStringLiteral("กรุณาป้อนเลขรับแจ้ง")
                                                         : QStringLiteral("เลขรับแจ้งต้องมี 8 ตัว"));
        m_page.Edit1->setFocus();
        return;
    }
    if (const auto bad = ClaimFileName::forbiddenClaimCharacter(claimNumber)) {
        const QString shown = bad->unicode() < 0x20 || bad->unicode() == 0x7f
                                  ? QStringLiteral("รหัส %1").arg(bad->unicode())
                                  : QString(*bad);
        platform::showPlainMessage(
            QStringLiteral("เลขรับแจ้งมีอักขระที่ใช้ในชื่อไฟล์ไม่ได้ (%1): ห้ามใช้ \\ / : * ? \" < > | และห้ามขึ้นต้นด้วยจุด")
                .arg(shown));
        m_page.Edit1->setFocus();
        return;
    }

    const platform::ThumbnailSlot* dropped = nullptr;
    for (const platform::ThumbnailSlot& slot : m_page.thumbnailSlots()) {
        if (slot.image == source)
            dropped = &slot;
    }
    if (!dropped)
        return;
    m_values.CurrentFileName = dropped->caption->text();
    m_values.ExtensionText = m_values.CurrentFileName.right(4).toUpper();

    if (category != &documentsCategory() && m_values.ExtensionText == gifExtension) {
        platform::showPlainMessage(QStringLiteral("กรุณาเลือกเฉพาะรูปภาพ"));
        return;
    }
    if (category == &documentsCategory() && m_values.ExtensionText == jpgExtension) {
        platform::showPlainMessage(QStringLiteral("กรุณาเลือกเฉพาะเอกสาร"));
        return;
    }
    m_claimNumber = claimNumber;
    const GuardAnswers answers = askGuard(inboxFile(m_values.CurrentFileName));
    if (!answers.file)
        return;
    const QString filedName = Drop(*dropped, *category);
    afterFiling(answers, *category, filedName);
}

QString Filing::Drop(const platform::ThumbnailSlot& slot, const Category& category)
{
    QStringList& inbox = m_page.inboxList();
    const qsizetype entry = inbox.indexOf(slot.caption->text());
    if (entry >= 0)
        inbox.removeAt(entry);
    --m_values.PageOffset;
    try {
        return Batch(slot, category);
    } catch (...) {
        // Nothing was filed: the photo keeps its place in the list and on the
        // page, so Next stays aligned.
        if (entry >= 0)
            inbox.insert(entry, slot.caption->text());
        ++m_values.PageOffset;
        throw;
    }
}

QString Filing::RepairGroup(int low, int high, const QString& caption) const
{
    // A number whose file waits unsent in the outbox, loose or in the claim's
    // archive there, is taken even when its copy was removed from the claim
    // folder.
    return nextSequence(m_claimFiles + unsentNamesOf(m_claimNumber), low, high, m_claimNumber, caption);
}

QString Filing::Batch(const platform::ThumbnailSlot& slot, const Category& category)
{
    const QString claimFolder = platform::paths::claimFolder(m_claimNumber);
    platform::ensureFolder(claimFolder);
    m_values.CurrentFileName = slot.caption->text();
    m_values.ExtensionText = m_values.CurrentFileName.right(4);
    const QString inboxPicture = inboxFile(m_values.CurrentFileName);
    const platform::SequenceRange range = platform::sequenceRange(category.kind);

    // Both copies are complete on disk before either takes its final name, and
    // the inbox file goes only after both are in place. Neither replaces a
    // file: when another filing (a second program on the claim) took the
    // number meanwhile, the next free number is taken.
    QString filedName;
    QStringList clashed; // names another filing took between our choice and our rename
    try {
        std::optional<platform::StagedCopy> archive, outbox;
        for (int attempt = 0;; ++attempt) {
            m_claimFiles = picturesIn(claimFolder) + clashed;
            m_values.SequenceText = RepairGroup(range.low, range.high, category.caption);
            filedName = m_claimNumber + m_values.SequenceText + m_values.ExtensionText;
            const QString archiveCopy = platform::localPath(claimFolder + QLatin1Char('\\') + filedName);
            const QString outboxCopy = platform::localPath(platform::paths::outbox + QLatin1Char('\\') + filedName);
            if (!archive) {
                archive.emplace(inboxPicture, archiveCopy);
                outbox.emplace(inboxPicture, outboxCopy);
            }
            if (attempt >= maxFilingAttempts)
                throw Error(QStringLiteral("ชื่อไฟล์ของเลขรับแจ้งนี้ถูกใช้ไปพร้อมกันหลายครั้ง: กรุณาลองอีกครั้ง"));
            if (!archive->commitWithoutReplacing(archiveCopy)) {
                clashed << filedName;
                continue;
            }
            bool outboxPlaced = false;
            try {
                outboxPlaced = outbox->commitWithoutReplacing(outboxCopy);
            } catch (...) {
                archive->discard();
                throw;
            }
            if (outboxPlaced)
                break;
            clashed << filedName;
            archive->discard();
            archive.reset();
            outbox.reset();
        }
    } catch (const Error& error) {
        throw Error(QStringLiteral("จัดเก็บรูปภาพไม่ได้\n%1 → %2\n%3").arg(m_values.CurrentFileName, filedName, error.message()));
    }
    if (!QFile::remove(inboxPicture)) {
        // Filed, but still in the inbox: say so, rather than let it be filed twice.
        slot.image->hide();
        slot.caption->hide();
        throw Error(QStringLiteral("จัดเก็บรูปภาพแล้ว แต่ลบออกจากโฟลเดอร์รูปภาพใหม่ไม่ได้\n%1 → %2")
                        .arg(m_values.CurrentFileName, filedName));
    }
    platform::syncFolder(platform::localPath(platform::paths::inbox));
    slot.image->hide();
    slot.caption->hide();
    return filedName;
}

}  // namespace tevrak::intake
