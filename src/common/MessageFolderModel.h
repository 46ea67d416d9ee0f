#pragma once

#include "MessageEntry.h"
#include "MessageRows.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QDateTime>
#include <QIcon>
#include <QLocale>
#include <QList>
#include <QSet>
#include <QStringList>
#include <functional>

// The rows of one message folder (Inbox or Recycle Bin). Views show the rows
// in the model's own order, so a position means the same in the view, the
// model and the code: row r here is position r + 1.
//
// Sorting lives here, not in a proxy: while sorting is on, the rows are kept
// ordered by the sort column (ascending, stable) and appended rows are placed
// by it; while it is off, rows stay where they were put.
//
// What is shown is made readable once, when a row is first shown or sorted:
// Sender and Subject decoded (HeaderDisplay), the Date read as a time. A view
// asks for the few rows on screen, and a fetch of many thousands of rows must
// not pay for all of them as they arrive. The Date's text in the user's
// locale is made each time it is shown.
// The entries keep the raw texts (entry(), RawTextRole), which is what rules
// and lookups use. The Date column sorts by time (unreadable dates last, by
// their text), Size by size, Score by how much the learning thinks a row
// looks like the user's spam (rows it did not judge last), the others by
// their shown text in the locale's order, ignoring case. A list that is never shown (the command line's check)
// skips that work: see setDisplayed().
class MessageFolderModel : public QAbstractTableModel, public MessageRows {
    Q_OBJECT
public:
    // Score: the learning's verdict, "97 %", on the rows it sorted; empty on the others.
    enum Column { Sender = 0, Subject, Date, Priority, Size, Score, ColumnCount };
    enum Role {
        NumberRole = Qt::UserRole + 1,
        IconKeyRole,
        UidRole,
        RawTextRole // the column's text as the server sent it
    };

    using IconLookup = std::function<QIcon(const QString &key)>;

    explicit MessageFolderModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    int count() const override { return int(m_rows.size()); }
    const MessageEntry &entry(int row) const override { return m_rows.at(row).entry; }
    // Appends (or, with sorting on, inserts in order); returns the row used.
    int append(const MessageEntry &entry) override;
    // Appends many rows as append() would one by one, told to views at once.
    void appendRows(QList<MessageEntry> entries) override;
    void removeAt(int row) override;
    MessageEntry takeAt(int row);
    // What sorted the row, told anew: a rule made since names it.
    void setSortReason(int row, const SortReason &reason);
    // The same for many rows (row numbers as they are before the first
    // change); rows sorted by Score take their new places after the last.
    void setSortReasons(const QList<QPair<int, SortReason>> &changes);
    void clear();

    // The column to sort by (Sender until one is chosen).
    void setSortColumn(int column);
    bool isSortingEnabled() const { return m_sortingEnabled; }
    // Switching sorting on reorders the rows at once.
    void setSortingEnabled(bool enabled);

    // A date and time short enough for the Date column: the locale's short
    // date with a two-digit year and the time without seconds.
    static QString compactDate(const QDateTime &local, const QLocale &locale = QLocale());
    // A few compact dates that are as wide as any, to size the column by.
    static QStringList compactDateSamples(const QLocale &locale = QLocale());

    void setIconLookup(IconLookup lookup) { m_iconLookup = std::move(lookup); }

    // Whether rows added from now on are made readable when shown (the
    // default). Rows that are not show and sort by their raw texts, and cost
    // no more than their entries.
    void setDisplayed(bool displayed) { m_displayed = displayed; }

    // Orders two rows by a column; replaces the built-in order (dates by
    // time, sizes by size, the rest by shown text) when set.
    using LessThan = std::function<bool(const MessageEntry &, const MessageEntry &, int column)>;
    void setLessThan(LessThan lessThan);

Q_SIGNALS:
    void countChanged(int count);

private:
    // An entry with what its row shows and sorts by, worked out once: the
    // size as it is added, the readable texts and the time when the row is
    // first shown or sorted (ready()).
    struct Row {
        enum class Texts : quint8 { Raw, ToRead, Read };
        MessageEntry entry;
        // Those of the Sender, Subject and Date (in this order) whose shown
        // text is not the raw one (decoded, unfolded, trimmed), bit 1 << k
        // in `decoded` telling column k has one: most rows need none, and a
        // list of many thousands keeps no room for them.
        mutable QStringList shown;
        mutable qint64 time = 0; // ms since the epoch, when hasTime
        qint64 sizeBytes = 0; // when hasSize
        mutable bool hasTime = false;
        bool hasSize = false;
        mutable quint8 decoded = 0;
        mutable Texts texts = Texts::Raw;
    };

    Row makeRow(MessageEntry entry);
    // The row with its readable texts worked out, if they are still to be.
    static const Row &ready(const Row &row);
    static QString readableText(const Row &row, int column);
    QString shownText(const Row &row, int column) const;
    static bool hasScore(const MessageEntry &entry);
    static int alignment(int column);
    void sortRows();
    bool less(const Row &a, const Row &b) const;

    QList<Row> m_rows;
    QCollator m_collator;
    int m_sortColumn = Sender;
    bool m_sortingEnabled = false;
    IconLookup m_iconLookup;
    LessThan m_lessThan;
    // The rule texts of the rows' sort reasons, each kept once: a rule that
    // sorts thousands of rows is read from the database for every one.
    QSet<QString> m_ruleTexts;
    bool m_displayed = true;

    friend class QTypeInfo<Row>;
};

// Rows are moved in memory as they are, so that a list of many thousands
// grows without copying each one.
Q_DECLARE_TYPEINFO(MessageFolderModel::Row, Q_RELOCATABLE_TYPE);
