#pragma once

#include "tools/flash/Command.h"

class TInstallCommand final : public TCommand
{
public:
    QString name() const override { return QStringLiteral("install"); }
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    QList<QPair<QString, QString>> exclusions() const override;
    int run(const QCommandLineParser &parser, TCommandContext &context) override;
};
