// The mix as defined sample by sample, for checking the streamed mixer: the longer input (the
// first when equal) with each whole sample of its data replaced by a/2 + b/2, where an input whose
// data has ended gives 0.
#pragma once

#include <QByteArray>
#include <QtEndian>

struct ReferenceSide {
    QByteArray bytes;
    qsizetype dataStart;
    qsizetype dataSize;
};

inline QByteArray ReferenceMix(const ReferenceSide& a, const ReferenceSide& b) {
    const ReferenceSide& longer = a.dataSize >= b.dataSize ? a : b;
    QByteArray out = longer.bytes;
    auto value = [](const ReferenceSide& s, qsizetype offset) -> qint16 {
        if (offset + 2 > s.dataSize) return 0;
        return qFromLittleEndian<qint16>(s.bytes.constData() + s.dataStart + offset);
    };
    for (qsizetype offset = 0; offset + 2 <= longer.dataSize; offset += 2) {
        const auto mixed = static_cast<qint16>(value(a, offset) / 2 + value(b, offset) / 2);
        qToLittleEndian<qint16>(mixed, out.data() + longer.dataStart + offset);
    }
    return out;
}
