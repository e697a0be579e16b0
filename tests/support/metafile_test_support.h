#pragma once
// Metafiles read back record by record, as the tests of the WMF/EMF writer
// and of the charts' pictures look at them.
#include <QByteArray>
#include <QFile>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace metafiletest {

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline uint32_t U32(const QByteArray& b, qsizetype at) {
    uint32_t v = 0;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}
inline int32_t I32(const QByteArray& b, qsizetype at) { return static_cast<int32_t>(U32(b, at)); }
inline uint16_t U16(const QByteArray& b, qsizetype at) {
    uint16_t v = 0;
    std::memcpy(&v, b.constData() + at, 2);
    return v;
}

// EMF records as they lie in the file, each whole; empty when one is broken.
struct TRecord {
    uint32_t Type;
    QByteArray Bytes;
};
inline std::vector<TRecord> EmfRecords(const QByteArray& file) {
    std::vector<TRecord> out;
    for (qsizetype at = 0; at + 8 <= file.size();) {
        const uint32_t type = U32(file, at), size = U32(file, at + 4);
        if (size < 8 || size % 4 != 0 || at + size > file.size()) return {};
        out.push_back({type, file.mid(at, size)});
        at += size;
        if (type == 14) return out;  // EMR_EOF
    }
    return {};
}

// WMF records after the placeable and standard headers; type = function.
inline std::vector<TRecord> WmfRecords(const QByteArray& file) {
    std::vector<TRecord> out;
    if (file.size() < 40 || U32(file, 0) != 0x9ac6cdd7u) return out;  // placeable magic
    for (qsizetype at = 22 + 18; at + 6 <= file.size();) {
        const qsizetype size = static_cast<qsizetype>(U32(file, at)) * 2;
        if (size < 6 || at + size > file.size()) return {};
        out.push_back({U16(file, at + 4), file.mid(at, size)});
        at += size;
        if (out.back().Type == 0) return out;  // the end record
    }
    return {};
}

inline int Count(const std::vector<TRecord>& records, std::initializer_list<uint32_t> types) {
    int n = 0;
    for (const TRecord& r : records)
        for (uint32_t t : types) n += r.Type == t;
    return n;
}
inline std::vector<QByteArray> OfType(const std::vector<TRecord>& records, uint32_t type) {
    std::vector<QByteArray> out;
    for (const TRecord& r : records)
        if (r.Type == type) out.push_back(r.Bytes);
    return out;
}

// EMR_EXTTEXTOUTW: the reference point and the UTF-16 string.
struct TEmfText {
    QPoint Reference;
    QString Text;
};
inline std::vector<TEmfText> EmfTexts(const std::vector<TRecord>& records) {
    std::vector<TEmfText> out;
    for (const TRecord& r : records) {
        if (r.Type != 84) continue;
        const QByteArray& b = r.Bytes;
        const uint32_t chars = U32(b, 44), offString = U32(b, 48);
        out.push_back({QPoint(I32(b, 36), I32(b, 40)),
                       QString(reinterpret_cast<const QChar*>(b.constData() + offString), chars)});
    }
    return out;
}

// META_EXTTEXTOUT without a rectangle: the string after y, x, count, options.
inline std::vector<QByteArray> WmfTexts(const std::vector<TRecord>& records) {
    std::vector<QByteArray> out;
    for (const TRecord& r : records)
        if (r.Type == 0x0a32) out.push_back(r.Bytes.mid(14, static_cast<int16_t>(U16(r.Bytes, 10))));
    return out;
}

}  // namespace metafiletest
