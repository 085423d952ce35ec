#include "PasswordStore.h"

#include "Database.h"
#include "Statements.h"

using namespace Qt::StringLiterals;

namespace PasswordStore {

QString readPassword(StoreQuery& query) {
    query.setText(Statements::selectPassword());
    query.open();
    QString password;
    if (query.next())
        password = query.value(0).toString();
    query.finish();
    return password;
}

void setPassword(StoreQuery& query, const QString& password) {
    Database::write([&] {
        Transaction transaction(query.database());
        if (const QString lock = Statements::lockPassword(Statements::dialectOf(query.database()));
            !lock.isEmpty())
            query.executeDirect(lock);
        query.setText(Statements::deletePassword());
        query.execute();
        query.setText(Statements::insertPassword());
        query.bind(u"p"_s, password);
        query.execute();
        transaction.commit();
    });
}

} // namespace PasswordStore
