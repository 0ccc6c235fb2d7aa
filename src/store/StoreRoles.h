#pragma once

#include <QString>
#include <QStringList>

class TConnection;

// What a server role may do in the store. The store's owner gives a role what it needs
// (grant); the program asks the server what its own user may do before it starts an action, so
// that an action the role lacks is refused before anything is fetched or written. On a
// database file every action is the file's (a read-only file is told at open).
namespace storeroles {

enum class Role
{
    Reader, // reads every table: browse, export, analyse, run and queue status
    Miner,  // also searches, mines and works the queue; deletes no shop, edits no memo
};

// The statements that give an existing server role what it needs in the schema, as the
// administrator would run them. The role is quoted as given (the server's own spelling).
QStringList grantStatements(Role role, const QString& roleName, const QString& schemaName);

// Runs grantStatements in one transaction on the store's schema and checks that the role
// holds every privilege afterwards: a grant the server only warned about is undone too. False
// with the server's message (nothing granted) on failure.
bool grant(TConnection& connection, Role role, const QString& roleName, QString* error);

enum class Action
{
    Mine,        // search, mine, resume, work the queue, queue shops
    DeleteShop,  // a shop with its ratings
    EditRatings, // a rating's memos by hand
};

// Empty when the connection's user may do the action; else the server's own "permission
// denied" message for the first privilege it lacks, learned by a statement that touches no
// row (in a transaction that is rolled back). Other failures to ask are returned as they come.
QString refusal(TConnection& connection, Action action);

// The server user of the connection; empty on a file.
QString userName(TConnection& connection);

} // namespace storeroles
