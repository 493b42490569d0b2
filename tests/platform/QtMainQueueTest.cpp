#include "platform/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

TEST(QtMainQueue, RunsWorkOnTheGuiThreadInOrderFromAnyThread) {
    // The test program's own application (see its main).
    QCoreApplication& application = *QCoreApplication::instance();
    platform::qt::QtMainQueue queue;
    std::vector<int> order;
    bool allOnGui = true;
    auto record = [&](int value) {
        return [&, value] {
            allOnGui = allOnGui && QThread::currentThread() == application.thread();
            order.push_back(value);
        };
    };
    queue.postAfter(0.2, record(5));
    queue.post(record(1));
    std::thread other([&] {
        queue.post(record(2));
        queue.postAfter(0.05, record(4));
        queue.post(record(3));
    });
    other.join();
    queue.postAfter(0.3, [&] { application.quit(); });
    application.exec();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(allOnGui);
}
