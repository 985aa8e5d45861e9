#include "intake/guard/FilingGuard.h"

namespace tevrak::intake::guard {

namespace {

// The stored hashes within `maxDistance` of any version of `probe`, as (distance, index). The one loop of a
// drop that grows with the prints: built a second time for processors with the POPCNT instruction, which
// the default x86-64 target leaves out (the portable bit count costs five times as much).
__attribute__((target_clones("popcnt", "default"))) void
collectWithin(const imaging::DihedralHashes& probe, const std::vector<imaging::PerceptualHash>& hashes,
              int maxDistance, std::vector<std::pair<int, size_t>>& found)
{
    const size_t count = hashes.size();
    for (size_t i = 0; i < count; ++i) {
        const int d = probe.distanceTo(hashes[i]);
        if (d <= maxDistance)
            found.emplace_back(d, i);
    }
}

} // namespace

QString warningName(GuardWarning::Kind kind)
{
    switch (kind) {
    case GuardWarning::Kind::SameBytes:
        return QStringLiteral("same-bytes");
    case GuardWarning::Kind::NearPicture:
        return QStringLiteral("near-picture");
    case GuardWarning::Kind::OldPhoto:
        return QStringLiteral("old-photo");
    }
    return {};
}

std::optional<GuardWarning> ageWarning(const QDateTime& captureTime, const QDate& garageDate, const QDate& today,
                                       int maxAgeDays)
{
    if (!captureTime.isValid())
        return std::nullopt;
    const QDate taken = captureTime.date();
    if (taken > today)
        return std::nullopt; // a camera clock set wrong says nothing about the photo's age
    const QDate limit = garageDate.isValid() ? garageDate.addDays(-1) : today.addDays(-maxAgeDays);
    if (taken >= limit)
        return std::nullopt;
    GuardWarning warning;
    warning.kind = GuardWarning::Kind::OldPhoto;
    warning.captureTime = captureTime;
    warning.limit = limit;
    warning.garageDate = garageDate;
    return warning;
}

FilingGuard::FilingGuard(PrintTable& prints, NearLimits limits) : m_prints(prints), m_limits(limits) {}

void FilingGuard::catchUp()
{
    m_lastId = m_prints.readHashesAfter(
        m_lastId, [this](qint64 id, const QString& claim, const imaging::HashedPicture& picture) {
            if (picture.detail < m_limits.minDetail)
                return;
            // Two entries per print: the picture as filed and cut down a little, so that a copy cut down
            // by a few per cent a side is near the second.
            for (const imaging::PerceptualHash& hash : {picture.hashes.upright(), picture.cropped}) {
                m_ids.push_back(id);
                m_claims.push_back(claim);
                m_hashes.push_back(hash);
            }
        });
}

std::optional<GuardWarning> FilingGuard::nearestUnderAnotherClaim(const imaging::HashedPicture& picture,
                                                                  const QString& claim)
{
    catchUp();
    if (picture.detail < m_limits.minDroppedDetail)
        return std::nullopt;
    std::vector<std::pair<int, size_t>> found;
    collectWithin(picture.hashes, m_hashes, m_limits.maxDistance, found);
    int best = m_limits.maxDistance + 1;
    size_t bestIndex = 0;
    for (const auto& [d, i] : found) {
        if (d < best && m_claims[i].compare(claim, Qt::CaseInsensitive) != 0) {
            best = d;
            bestIndex = i;
        }
    }
    if (best > m_limits.maxDistance)
        return std::nullopt;
    GuardWarning warning;
    warning.kind = GuardWarning::Kind::NearPicture;
    warning.distance = best;
    warning.other = m_prints.byId(m_ids[bestIndex]);
    return warning;
}

std::vector<GuardWarning> FilingGuard::check(const PictureFacts& facts, const QString& claim,
                                             const QDate& garageDate, const QDate& today, int maxAgeDays)
{
    std::vector<GuardWarning> warnings;
    if (auto filed = m_prints.findBytes(facts.sha256)) {
        GuardWarning warning;
        warning.kind = GuardWarning::Kind::SameBytes;
        warning.other = std::move(filed);
        warnings.push_back(std::move(warning));
    } else if (facts.picture) {
        if (auto near = nearestUnderAnotherClaim(*facts.picture, claim))
            warnings.push_back(std::move(*near));
    }
    if (facts.picture) {
        if (auto old = ageWarning(facts.captureTime, garageDate, today, maxAgeDays))
            warnings.push_back(std::move(*old));
    }
    return warnings;
}

} // namespace tevrak::intake::guard
