#pragma once

// The filing guard: before a picture is copied, what the prints filed so far say about it.
//   - the same bytes filed already (any claim, any category, photo or document);
//   - a photograph whose picture is near one filed under another claim (near ones under the same claim are
//     several shots of one damage and say nothing; scanned documents are not compared);
//   - a photograph taken before the car came in (the claim's garage date less a day) or, for a claim not
//     in the register, more than the allowed age before today.
// The caller asks the clerk about each warning. The near search keeps the hashes in memory and reads only
// the prints added since the last drop, so the back-fill's prints count as soon as they are committed.

#include "intake/guard/PhotoPrint.h"
#include "intake/guard/PrintTable.h"

#include <QDate>
#include <vector>

namespace tevrak::intake::guard {

// The limits of the near search, chosen by bench/filing-guard (docs/DESIGN.md has the figures).
struct NearLimits {
    // Two pictures are near when their hashes (in the best of the eight turnings) differ in at most this
    // many of the 256 bits.
    int maxDistance = 48;
    // Filed pictures with less detail than this (flat walls, a dark frame) have hashes that follow noise and
    // are left out of the near search.
    int minDetail = 80;
    // A dropped picture is compared down to this detail: a darker or smaller copy of a filed picture has
    // less detail than the picture had.
    int minDroppedDetail = 40;
};

struct GuardWarning {
    enum class Kind { SameBytes, NearPicture, OldPhoto };
    Kind kind = Kind::SameBytes;
    std::optional<PhotoPrint> other; // SameBytes, NearPicture: the filed picture
    int distance = 0;                // NearPicture: the bits in which the hashes differ
    QDateTime captureTime;           // OldPhoto
    QDate limit;                     // OldPhoto: the earliest date a photo of the claim may have
    QDate garageDate;                // OldPhoto: the register's garage date (null: not in the register)
};

// The text kept with the clerk's answer: "same-bytes", "near-picture", "old-photo".
QString warningName(GuardWarning::Kind kind);

class FilingGuard {
public:
    explicit FilingGuard(PrintTable& prints, NearLimits limits = {});

    // The warnings about filing `facts` under `claim`, at most one of each kind, in the order above; near
    // pictures only when the bytes were not found. `garageDate` is the claim's earliest garage date in the
    // register (null when the claim is not there); `maxAgeDays` the allowed age otherwise.
    std::vector<GuardWarning> check(const PictureFacts& facts, const QString& claim, const QDate& garageDate,
                                    const QDate& today, int maxAgeDays);

    // The nearest picture under another claim within the limits, if any (the prints added since the last
    // call are read first).
    std::optional<GuardWarning> nearestUnderAnotherClaim(const imaging::HashedPicture& picture, const QString& claim);

    // The prints in the in-memory near index.
    size_t indexedPrints() const { return m_hashes.size() / 2; }
    // Reads the prints added since the last reading.
    void catchUp();

private:
    PrintTable& m_prints;
    NearLimits m_limits;
    qint64 m_lastId = 0;
    std::vector<imaging::PerceptualHash> m_hashes;
    std::vector<qint64> m_ids;
    std::vector<QString> m_claims;
};

// The age warning alone (no table): a photo whose capture date is before `garageDate` less one day, or,
// without a garage date, before `today` less `maxAgeDays`. Nothing for an invalid capture time or one
// after today.
std::optional<GuardWarning> ageWarning(const QDateTime& captureTime, const QDate& garageDate, const QDate& today,
                                       int maxAgeDays);

} // namespace tevrak::intake::guard
