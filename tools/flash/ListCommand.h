#pragma once

#include "tools/flash/Command.h"

class TListCommand final : public TCommand
{
public:
    QString name() const override { return QStringLiteral("list"); }
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser, TCommandContext &context) override;
};
