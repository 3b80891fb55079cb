#include "probe/PartName.h"

#include "common/StrUtils.h"

QString partNameOf(const QString &HICID)
{
    struct TModel
    {
        const char16_t *HICID;
        const char16_t *name;
    };
    static const TModel models[] = {
        {u"51563270", u"QV58Link Mini"},
        {u"51560059", u"QV58Link Max"},
    };
    for (const TModel &model : models) {
        if (sameText(HICID, QString::fromUtf16(model.HICID)))
            return QString::fromUtf16(model.name);
    }
    return QStringLiteral("unknow");
}
