#pragma once

#include "query/ResultRow.h"
#include "query/Thresholds.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <unordered_map>
#include <utility>

// When lines of one PON port or one splitter count as a shared fault ([Faults] of vesmora.ini).
struct FaultRules {
    int minLines = 3;     // a group needs at least this many lines (MinLines, a whole number >= 2)
    double badShare = 60; // and at least this share of them bad, in % (BadShare, above 0 up to 100)

    // A missing file or key, or a value outside its range, keeps that default.
    static FaultRules fromIni(const QString& path);
};

// One splitter of a port: its lines and how many of them are weak, dropped, and bad (either).
struct SplitterCount {
    QString name; // empty: the rows named none
    int lines = 0;
    int weak = 0;
    int drops = 0;
    int bad = 0;
};

// One PON port (OLT IP and OLT PON) of the list.
struct PonPort {
    QString oltIp;
    QString oltPon;
    int lines = 0;
    int weak = 0;
    int drops = 0;
    int bad = 0;
    QString verdict;                // empty when the rules find nothing
    QList<SplitterCount> splitters; // in the order they first appear in the list
    QList<int> rows;                // the port's list rows, in list order
};

// Where the weak lines of a list point: their shared splitter or the trunk fibre of their PON
// port. Fed one list row at a time with its marks; it keeps no link to the list.
//
// A row counts when it is done and names an OLT IP and a PON. It is bad when a receive reading
// lies outside its window (the thresholds, as the list colours it) or when the caller marks it as
// a drop against an earlier reading. A splitter with enough lines, enough of them bad, is
// "疑似分光器故障：" + its name; a port with enough lines, enough bad, and its bad lines under two
// or more splitters is "疑似主干光路故障" instead.
class PonSummary {
public:
    struct Marks {
        bool done = true;  // false for failed rows and rows not (yet) answered: not counted
        bool drop = false; // a power reading fell against the account's earlier one
    };

    PonSummary(const Thresholds& thresholds, const FaultRules& rules);

    void add(int row, const ResultRowLayout::Row& cells, Marks marks);
    // The ports with a verdict first, then by their count of bad lines, most first; equal ones in
    // list order.
    QList<PonPort> ports() const;

    // Window and workbook: "OLT IP", "OLT PON", "帐号数", "弱光数", "下降数", "判断".
    static QStringList headers();
    enum Column { OltIp, OltPon, Lines, Weak, Drops, Verdict, ColumnCount };
    // The port's cells in the order of headers().
    static QStringList texts(const PonPort& port);
    // One line per splitter: "测试小区78号分光器A：4/4 弱光", drops added when there are any.
    static QString details(const PonPort& port);
    static QString sheetName(); // "PON口汇总"

private:
    Thresholds m_thresholds;
    FaultRules m_rules;
    // A map that keeps each key's hash: QHash compares the keys of every slot it probes, which
    // for string keys costs more than the rest of a row.
    struct KeyHash {
        template <typename A, typename B> size_t operator()(const std::pair<A, B>& key) const {
            return qHash(key);
        }
    };
    template <typename A, typename B> using Index = std::unordered_map<std::pair<A, B>, int, KeyHash>;

    QList<PonPort> m_ports;         // in the order they first appear
    Index<QString, QString> m_port; // (OLT IP, PON) to its index in m_ports
    Index<int, QString> m_splitter; // (port index, name) to its index in splitters
};
