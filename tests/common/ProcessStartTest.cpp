#include "common/ProcessStart.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

// The per-probe workers match the details' patterns on threads of their own;
// each must end without taking the process with it (the test main sets the
// process up as the programs do).
TEST(ProcessStart, ThreadsThatMatchedPatternsEndCleanly)
{
    std::vector<std::thread> workers;
    std::vector<int> matched(4, 0);
    for (int i = 0; i < 4; ++i)
        workers.emplace_back([&matched, i] {
            const QRegularExpression key(QStringLiteral("^\\s*HIC\\s*ID\\s*:\\s*(\\S+)"),
                                         QRegularExpression::CaseInsensitiveOption);
            for (int round = 0; round < 200; ++round)
                matched[i] += key.match(QStringLiteral("hic id: 5156327%1").arg(round)).hasMatch() ? 1 : 0;
        });
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(matched, (std::vector<int>{200, 200, 200, 200}));
}
