#pragma once

#include "Pop3Session.h"
#include "RuleClassifier.h"

#include <QString>
#include <functional>

class MessageFolderModel;
class RunStatus;

// Sorting asks `classify` once per message, with the From value and the
// header read (RuleClassifier; tests may give their own). It may throw
// std::exception, which ends the fetch with an "Error" box.

// Reads the header of every message on the selected profile's server, sorts
// each into the Inbox or the Recycle Bin by the rule lists, and appends it as
// a row. Called with both lists empty and sorting off.
void FetchHeader(RunStatus &status, MessageFolderModel &inbox, MessageFolderModel &recycle,
                 const MessageClassifier &classify, SessionOptions options = {});

// Deletes every Recycle Bin message on the server, from the last row to the
// first, removing each row whose deletion the server accepted. Messages are
// identified by their unique id (or, without one, their header) so that a
// mailbox changed since the fetch never loses the wrong message.
void EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle, SessionOptions options = {});
