#include "Icons.h"

#include <QHash>

// The pictures sit in a static library; naming their initialiser keeps the linker from dropping them.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace Icons {

QIcon get(QStringView name) {
    static const bool registered = (initIconResources(), true);
    Q_UNUSED(registered);
    static QHash<QString, QIcon> cache;
    const QString key = name.toString();
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, QIcon(QStringLiteral(":/icons/%1.svg").arg(key)));
    return *it;
}

QPixmap pixmap(QStringView name, int size) {
    return get(name).pixmap(size, size);
}

} // namespace Icons
