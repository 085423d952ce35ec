#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

// The 2 MB "photograph" of the store drills: a header naming the operation that stored it, then
// bytes that follow from that number, so that a reader can tell a whole picture from a torn one.
namespace DrillPicture {

inline constexpr qsizetype Size = 2 * 1024 * 1024;

inline QByteArray make(qint64 seq) {
    QByteArray bytes(Size, Qt::Uninitialized);
    const QByteArray header = "drill:" + QByteArray::number(seq) + ';';
    std::memcpy(bytes.data(), header.constData(), size_t(header.size()));
    quint64 x = quint64(seq) * 0x9E3779B97F4A7C15ull + 1;
    for (qsizetype i = header.size(); i < Size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(bytes.data() + i, &x, size_t(std::min<qsizetype>(8, Size - i)));
    }
    return bytes;
}

// The number in the header when the picture is whole; -1 otherwise.
inline qint64 check(const QByteArray& bytes) {
    if (!bytes.startsWith("drill:"))
        return -1;
    const qsizetype end = bytes.indexOf(';');
    bool ok = false;
    const qint64 seq = bytes.mid(6, end - 6).toLongLong(&ok);
    return ok && bytes == make(seq) ? seq : -1;
}

} // namespace DrillPicture
