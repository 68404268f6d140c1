#include "handover/ProgramImage.h"

#include <QFile>
#include <QtEndian>

namespace handover {

namespace {

// Every header a check needs lies at the start of the file.
constexpr qint64 kHeadBytes = 64 * 1024;

#if defined(__x86_64__) || defined(_M_X64)
constexpr quint16 kElfMachine = 62;
constexpr quint16 kPeMachine = 0x8664;
#elif defined(__aarch64__) || defined(_M_ARM64)
constexpr quint16 kElfMachine = 183;
constexpr quint16 kPeMachine = 0xAA64;
#elif defined(__i386__) || defined(_M_IX86)
constexpr quint16 kElfMachine = 3;
constexpr quint16 kPeMachine = 0x14c;
#else
constexpr quint16 kElfMachine = 0; // not checked
constexpr quint16 kPeMachine = 0;
#endif
constexpr bool k64Bit = sizeof(void*) == 8;

// Reads little-endian numbers at an offset; nothing past the end of what was read.
class Bytes {
public:
    explicit Bytes(const QByteArray& data) : m_data(data) {}
    bool has(qint64 offset, qint64 size) const {
        return offset >= 0 && size >= 0 && offset <= m_data.size() && size <= m_data.size() - offset;
    }
    template <typename T> T at(qint64 offset) const {
        if (!has(offset, qint64(sizeof(T))))
            return T{};
        return qFromLittleEndian<T>(m_data.constData() + offset);
    }

private:
    const QByteArray& m_data;
};

bool fits(quint64 offset, quint64 size, qint64 fileSize) {
    return offset <= quint64(fileSize) && size <= quint64(fileSize) - offset;
}

} // namespace

bool isElfImage(const QByteArray& head, qint64 fileSize) {
    const Bytes b(head);
    if (!b.has(0, 64) || !head.startsWith("\x7f"
                                          "ELF"))
        return false;
    const bool is64 = head.at(4) == 2;
    // Little endian, this system's word size, an executable or a position-independent program.
    if (head.at(5) != 1 || is64 != k64Bit || (head.at(4) != 1 && head.at(4) != 2))
        return false;
    const quint16 type = b.at<quint16>(16);
    if (type != 2 && type != 3)
        return false;
    if (kElfMachine != 0 && b.at<quint16>(18) != kElfMachine)
        return false;
    const quint64 phoff = is64 ? b.at<quint64>(32) : b.at<quint32>(28);
    const quint64 shoff = is64 ? b.at<quint64>(40) : b.at<quint32>(32);
    const quint16 phentsize = b.at<quint16>(is64 ? 54 : 42);
    const quint16 phnum = b.at<quint16>(is64 ? 56 : 44);
    const quint16 shentsize = b.at<quint16>(is64 ? 58 : 46);
    const quint16 shnum = b.at<quint16>(is64 ? 60 : 48);
    if (phnum == 0 || phentsize < (is64 ? 56 : 32) || !b.has(qint64(phoff), qint64(phnum) * phentsize))
        return false;
    if (shoff != 0 && !fits(shoff, quint64(shnum) * shentsize, fileSize))
        return false;
    for (quint16 i = 0; i < phnum; ++i) {
        const qint64 at = qint64(phoff) + qint64(i) * phentsize;
        const quint64 offset = is64 ? b.at<quint64>(at + 8) : b.at<quint32>(at + 4);
        const quint64 size = is64 ? b.at<quint64>(at + 32) : b.at<quint32>(at + 16);
        if (!fits(offset, size, fileSize))
            return false;
    }
    return true;
}

bool isPeImage(const QByteArray& head, qint64 fileSize) {
    const Bytes b(head);
    if (!b.has(0, 64) || !head.startsWith("MZ"))
        return false;
    const qint64 pe = b.at<quint32>(0x3C);
    if (!b.has(pe, 24) || head.mid(pe, 4) != QByteArray("PE\0\0", 4))
        return false;
    const quint16 machine = b.at<quint16>(pe + 4);
    const quint16 sections = b.at<quint16>(pe + 6);
    const quint16 optionalSize = b.at<quint16>(pe + 20);
    const quint16 characteristics = b.at<quint16>(pe + 22);
    // An executable image, not a library.
    if ((characteristics & 0x0002) == 0 || (characteristics & 0x2000) != 0)
        return false;
    if (kPeMachine != 0 && machine != kPeMachine)
        return false;
    const qint64 optional = pe + 24;
    if (optionalSize < 2 || !b.has(optional, optionalSize) ||
        b.at<quint16>(optional) != (k64Bit ? 0x20b : 0x10b))
        return false;
    const qint64 table = optional + optionalSize;
    if (sections == 0 || !b.has(table, qint64(sections) * 40))
        return false;
    for (quint16 i = 0; i < sections; ++i) {
        const qint64 at = table + qint64(i) * 40;
        const quint32 rawSize = b.at<quint32>(at + 16);
        const quint32 rawOffset = b.at<quint32>(at + 20);
        if (rawSize != 0 && !fits(rawOffset, rawSize, fileSize))
            return false;
    }
    return true;
}

bool isProgramImage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(kHeadBytes);
#ifdef Q_OS_WIN
    return isPeImage(head, file.size());
#else
    return isElfImage(head, file.size());
#endif
}

} // namespace handover
