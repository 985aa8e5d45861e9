#include "platform/core/ClaimFileName.h"

#include <algorithm>
#include <vector>

namespace tevrak::platform {

SequenceRange sequenceRange(FilingCategory category)
{
    switch (category) {
    case FilingCategory::BeforeRepair:
        return {1, 299};
    case FilingCategory::DuringRepair:
        return {300, 499};
    case FilingCategory::AfterRepair:
        return {500, 799};
    case FilingCategory::Documents:
        break;
    }
    return {800, 999};
}

std::optional<FilingCategory> categoryOfSequence(int sequence)
{
    for (const FilingCategory category : {FilingCategory::BeforeRepair, FilingCategory::DuringRepair,
                                          FilingCategory::AfterRepair, FilingCategory::Documents})
        if (sequenceRange(category).contains(sequence))
            return category;
    return std::nullopt;
}

std::optional<int> ClaimFileName::sequenceOf(const QString& name)
{
    bool numeric = false;
    const int value = sequencePart(name).toInt(&numeric);
    return numeric ? std::optional<int>(value) : std::nullopt;
}

std::optional<QChar> ClaimFileName::forbiddenClaimCharacter(const QString& claimNumber)
{
    if (claimNumber.startsWith(QLatin1Char('.')))
        return QLatin1Char('.');
    for (const QChar c : claimNumber) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || QStringLiteral("\\/:*?\"<>|").contains(c))
            return c;
    }
    return std::nullopt;
}

QString ClaimFileName::format(const QString& claimNumber, int sequence, const QString& extension)
{
    return claimNumber + QStringLiteral("%1").arg(sequence, SequenceLength, 10, QLatin1Char('0')) + extension;
}

std::optional<int> ClaimFileName::nextFree(const QStringList& takenNames, const QString& claimNumber,
                                           FilingCategory category)
{
    const SequenceRange range = sequenceRange(category);
    std::vector<bool> taken(std::size_t(range.high - range.low + 1), false);
    int highest = 0;
    for (const QString& name : takenNames) {
        if (claimPart(name).compare(claimNumber, Qt::CaseInsensitive) != 0)
            continue;
        const std::optional<int> sequence = sequenceOf(name);
        if (!sequence || !range.contains(*sequence))
            continue;
        taken[std::size_t(*sequence - range.low)] = true;
        highest = std::max(highest, *sequence);
    }
    if (highest == 0)
        return range.low;
    if (highest < range.high)
        return highest + 1;
    for (int sequence = range.low; sequence <= range.high; ++sequence)
        if (!taken[std::size_t(sequence - range.low)])
            return sequence;
    return std::nullopt;
}

std::optional<QString> ClaimFileName::nextFreeDocumentName(const QStringList& takenNames,
                                                           const QString& clashingName)
{
    const QString claim = claimPart(clashingName);
    const std::optional<int> sequence = nextFree(takenNames, claim, FilingCategory::Documents);
    if (!sequence)
        return std::nullopt;
    return format(claim, *sequence, clashingName.mid(ClaimLength + SequenceLength));
}

} // namespace tevrak::platform
