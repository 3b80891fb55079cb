#pragma once

#include "tools/flash/Command.h"

class TVersionsCommand final : public TCommand
{
public:
    QString name() const override { return QStringLiteral("versions"); }
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser, TCommandContext &context) override;
};
