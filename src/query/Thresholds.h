#pragma once

#include <QString>
#include <QtGlobal>

// Windows of the optical receive power outside which a line counts as weak (dBm). The defaults are
// those of GPON class B+; the program's INI file may set others in its [Thresholds] section.
struct Thresholds {
    struct Window {
        double low;
        double high;
    };
    Window ontReceive{-27, -8};
    Window oltReceive{-28, -8};
    // A power reading this many dB or more below the account's previous one counts as a drop
    // ([Thresholds] DropDb; a value that is not a positive number keeps the default).
    double dropDb = 3;

    // A missing file, key, or a value that is not a number keeps that default; a window whose
    // low end lies above its high end keeps both defaults.
    static Thresholds fromIni(const QString& path);
    // Lj() + "vesmora.ini".
    static QString iniPath();

    // Whether the cell holds a receive reading outside its window. Other columns and text that is
    // not a finite number are never weak.
    bool isWeak(int column, const QString& text) const;
};

// Colours of marked cells, shared by the list and the workbook (0xRRGGBB).
namespace marks {
constexpr quint32 kWeakFill = 0xFFEB9C;
constexpr quint32 kWeakText = 0x9C5700;
constexpr quint32 kFailedFill = 0xFFC7CE;
constexpr quint32 kFailedText = 0xC00000;
constexpr quint32 kDropFill = 0xE4DFEC;
constexpr quint32 kDropText = 0x5B2C6F;
constexpr quint32 kUnreachedText = 0x808080; // list only: the workbook keeps such rows plain
} // namespace marks
