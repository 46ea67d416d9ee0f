#pragma once

#include "MessageEntry.h"

#include <QList>

// The rows of one folder (Inbox or Recycle Bin) as the mail layer fills
// and empties them. The window's model is one kind; a run nobody watches
// (the command line's check) keeps a plain list, with no view to tell.
class MessageRows {
public:
    virtual ~MessageRows() = default;
    virtual int count() const = 0;
    virtual const MessageEntry &entry(int row) const = 0;
    // Appends (or, where rows are kept in order, inserts); returns the row used.
    virtual int append(const MessageEntry &entry) = 0;
    // Appends many rows as append() would one by one.
    virtual void appendRows(QList<MessageEntry> entries) = 0;
    virtual void removeAt(int row) = 0;
};

// Rows in the order they were put, and nothing else.
class MessageRowList final : public MessageRows {
public:
    int count() const override { return int(m_rows.size()); }
    const MessageEntry &entry(int row) const override { return m_rows.at(row); }
    int append(const MessageEntry &entry) override
    {
        m_rows.append(entry);
        return int(m_rows.size()) - 1;
    }
    void appendRows(QList<MessageEntry> entries) override { m_rows.append(std::move(entries)); }
    void removeAt(int row) override { m_rows.removeAt(row); }
    void clear() { m_rows.clear(); }

private:
    QList<MessageEntry> m_rows;
};
