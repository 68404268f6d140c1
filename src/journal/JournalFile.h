#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace sqlite {
class Database;
}

// The journal's SQLite file and its health. It opens, upgrades and probes the file, waiting for
// another program that holds it; moves a damaged or foreign file aside and starts a new one;
// leaves a newer program's file untouched; and gives way to memory where the folder cannot be
// written. The user is told once of each of these (noticeRaised, takeNotice); the callers go on.
//
// Every write goes through write(): one transaction each, in the order given. While another
// program holds the file beyond a short wait, writes queue up and are tried again a moment later,
// so the window never waits long and nothing is reordered or lost; close() writes what is left.
class JournalFile : public QObject {
    Q_OBJECT

public:
    static constexpr int kSchemaVersion = 3;
    // Statements run inside the write's transaction; SQLite's result code (SQLITE_DONE counts as
    // success). Run on whatever database the journal has by then: the file, a new file after a
    // damaged one, or memory.
    using Write = std::function<int(sqlite::Database&)>;

    explicit JournalFile(const QString& path, QObject* parent = nullptr);
    ~JournalFile() override;

    // Takes db's schema from version `from` to `to` (no transaction of its own): for the upgrade,
    // and for tests that write an older journal.
    static int migrate(sqlite::Database& db, int from, int to);

    QString path() const { return m_path; }
    bool isPersistent() const { return m_persistent; }
    QString takeNotice();
    // For reads; writes go through write().
    sqlite::Database& db() { return *m_db; }

    // committed runs once the write's transaction is committed (not when it is dropped).
    void write(Write write, std::function<void()> committed = {});
    // A read failed: damage moves the file aside, an unwritable folder gives way to memory.
    void readFailed(int code);
    // Every write so far in the file and proof against a power cut; otherwise done within a
    // second of a write.
    void flush();
    // Writes what still waits, waiting longer for a file another program holds, then flushes.
    // Owners call it while the writes' captures are still alive.
    void close();

    // A write for the file this journal left for memory: tried now, and when it fails, again at
    // every flush and at close until it goes through.
    void writeToLeftFile(const Write& write);

signals:
    void noticeRaised();
    // The journal is a new, empty database (the old file was moved aside, or memory took its
    // place): owners write again what must be there, the runs they own. Waiting writes follow.
    void replaced();
    // The journal is about to give up its file for memory, which is still open as db(): the last
    // moment to record there what must not be offered again from it. writeToLeftFile() keeps a
    // write that fails now for later.
    void leavingFile();

private:
    enum class Open { Ok, Damaged, Newer, Unwritable, Busy };

    Open openFile();
    Open openOnce();
    Open failure(int code);
    QString openFailure(Open result) const;
    Open upgrade();
    void openInMemory(const QString& reason);
    void moveAside(const QString& notice);
    // true when the database was replaced and the operation may be tried again.
    bool recover(int code);
    void raise(const QString& text);
    void scheduleFlush();
    // Runs the waiting writes in order, each SQLite wait up to busyMs; stops at a busy file.
    void drain(int busyMs);
    int run(const Write& write);
    void writeLeftFile();

    QString m_path;
    std::unique_ptr<sqlite::Database> m_db;
    bool m_persistent = false;
    bool m_closed = false;
    QString m_notice;
    int m_openCode = 0; // why the file could not be opened, for the notice
    struct Waiting {
        Write write;
        std::function<void()> committed;
    };
    QList<Waiting> m_waiting;
    QList<Write> m_owedToLeftFile;
    QTimer m_flushTimer;
    QTimer m_retryTimer;
};
