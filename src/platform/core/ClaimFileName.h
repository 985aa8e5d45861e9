#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tevrak::platform {

// The categories a claim's pictures are filed in, by their sequence numbers.
enum class FilingCategory { BeforeRepair, DuringRepair, AfterRepair, Documents };

struct SequenceRange {
    int low;
    int high;
    bool contains(int sequence) const { return sequence >= low && sequence <= high; }
};

// 1-299 before, 300-499 during, 500-799 after the repair, 800-999 the scanned documents.
SequenceRange sequenceRange(FilingCategory category);
std::optional<FilingCategory> categoryOfSequence(int sequence);

// The name a filed picture carries everywhere (claim folder, outbox, claim
// archive, server): the 8-character claim number, a three-digit sequence
// number and the extension, "12345678001.jpg". This is the one place that
// takes such a name apart or puts it together.
class ClaimFileName {
public:
    static constexpr int ClaimLength = 8;
    static constexpr int SequenceLength = 3;

    // The claim number a name begins with (its first 8 characters; the whole
    // name when it is shorter).
    static QString claimPart(const QString& name) { return name.left(ClaimLength); }
    // The three characters after the claim number, whatever they are.
    static QString sequencePart(const QString& name) { return name.mid(ClaimLength, SequenceLength); }
    // The sequence number of a name, when those three characters are a number.
    static std::optional<int> sequenceOf(const QString& name);

    // The claim number's first character that no file name here or on the
    // server may hold (control characters, \ / : * ? " < > |, or a leading "."
    // that would hide the files), if any.
    static std::optional<QChar> forbiddenClaimCharacter(const QString& claimNumber);

    // A name from its parts; the sequence is written with three digits.
    static QString format(const QString& claimNumber, int sequence, const QString& extension);

    // The claim's next free number in a category among `takenNames` (any
    // claims' names, compared without regard to case): one more than the
    // highest number of the claim in the range, or the range's first; when
    // the highest is the last of the range, the lowest free one. Nothing when
    // every number of the range is taken.
    static std::optional<int> nextFree(const QStringList& takenNames, const QString& claimNumber,
                                       FilingCategory category);
    // The name a document clashing with `clashingName` takes: the same claim
    // and extension under the claim's next free document number among
    // `takenNames`. Nothing when every document number is taken.
    static std::optional<QString> nextFreeDocumentName(const QStringList& takenNames, const QString& clashingName);
};

} // namespace tevrak::platform
