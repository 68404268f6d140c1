#pragma once

#include <QString>

#include <array>

// One result row of the list: 11 text cells, in the list's column order.
struct ResultRowLayout {
    static constexpr int kColumnCount = 11;
    using Row = std::array<QString, kColumnCount>;

    enum Column {
        Account = 0,
        Result = 1,
        OnuAccept = 2,
        OnuSend = 3,
        OltAccept = 4,
        OltSend = 5,
        Ems = 6,
        OltIp = 7,
        OltPon = 8,
        Loid = 9,
        SplitterName = 10,
    };
};
