#include "probe/QV58LinkConfig.h"

TQV58LinkConfig::TQV58LinkConfig(QObject *parent)
    : QObject(parent)
{
}
