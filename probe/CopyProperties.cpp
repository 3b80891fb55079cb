#include "probe/CopyProperties.h"

#include <QMetaObject>
#include <QMetaProperty>
#include <cstring>

void copyProperties(const QObject &source, QObject &target)
{
    const QMetaObject *from = source.metaObject();
    const QMetaObject *to = target.metaObject();
    // objectName names the object, not its data.
    for (int i = QObject::staticMetaObject.propertyCount(); i < to->propertyCount(); ++i) {
        const QMetaProperty targetProperty = to->property(i);
        const int sourceIndex = from->indexOfProperty(targetProperty.name());
        if (sourceIndex < QObject::staticMetaObject.propertyCount())
            continue;
        if (!targetProperty.isWritable())
            continue;
        const QMetaProperty sourceProperty = from->property(sourceIndex);
        if (std::strcmp(sourceProperty.typeName(), targetProperty.typeName()) != 0)
            continue;
        if (!sourceProperty.isReadable())
            continue;
        targetProperty.write(&target, sourceProperty.read(&source));
    }
}
