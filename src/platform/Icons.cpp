#include "Icons.h"

#include <QHash>

namespace Icons {

QIcon get(QStringView name)
{
    static QHash<QString, QIcon> cache;
    const QString key = name.toString();
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, QIcon(QStringLiteral(":/icons/%1.svg").arg(key)));
    return *it;
}

QPixmap pixmap(QStringView name, int size)
{
    return get(name).pixmap(size, size);
}

} // namespace Icons
