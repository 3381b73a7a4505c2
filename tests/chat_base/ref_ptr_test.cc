#include "chat_base/ref_ptr.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "chat_base/count_object.h"

namespace {

using chat_base::RefPtr;

class Counted : public chat_base::CountObject {
 public:
  explicit Counted(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
  ~Counted() override { ++*destroyed_; }

 private:
  std::atomic<int>* destroyed_;
};

// Logs every count change, so tests can check the order of AddRef and Release.
class Logged : public chat_base::CountObject {
 public:
  Logged(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  ~Logged() override { log_->push_back("delete " + name_); }
  void AddRef() const override {
    log_->push_back("addref " + name_);
    CountObject::AddRef();
  }
  void Release() const override {
    log_->push_back("release " + name_);
    CountObject::Release();
  }
  RefPtr<Logged> next;

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

TEST(CountObjectTest, NewObjectStartsAtZeroAndTheLastReleaseDestroysIt) {
  std::atomic<int> destroyed{0};
  auto* object = new Counted(&destroyed);
  EXPECT_EQ(0, object->RefCountForTesting());
  {
    RefPtr<Counted> first(object);
    EXPECT_EQ(1, object->RefCountForTesting());
    RefPtr<Counted> second = first;
    EXPECT_EQ(2, object->RefCountForTesting());
  }
  EXPECT_EQ(1, destroyed);
}

// Two threads drop the last two references of each object at the same time;
// each object must be destroyed exactly once.
TEST(CountObjectTest, ConcurrentReleaseDestroysExactlyOnce) {
  constexpr int kObjects = 200000;
  std::atomic<int> destroyed{0};
  std::vector<Counted*> objects;
  objects.reserve(kObjects);
  for (int i = 0; i < kObjects; ++i) {
    objects.push_back(new Counted(&destroyed));
    objects.back()->AddRef();
    objects.back()->AddRef();
  }
  std::atomic<int> ready{0};
  auto releaser = [&] {
    ++ready;
    while (ready.load() < 2) {
    }
    for (Counted* object : objects) object->Release();
  };
  std::thread a(releaser), b(releaser);
  a.join();
  b.join();
  EXPECT_EQ(kObjects, destroyed);
}

TEST(RefPtrTest, CopiesAndDropsFromManyThreadsBalance) {
  std::atomic<int> destroyed{0};
  RefPtr<Counted> shared(new Counted(&destroyed));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; ++i) {
        RefPtr<Counted> copy = shared;
        RefPtr<Counted> moved = std::move(copy);
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(1, shared->RefCountForTesting());
  EXPECT_EQ(0, destroyed);
  shared = nullptr;
  EXPECT_EQ(1, destroyed);
}

TEST(RefPtrTest, AssignmentTakesTheNewReferenceBeforeDroppingTheOld) {
  std::vector<std::string> log;
  RefPtr<Logged> a(new Logged("a", &log));
  RefPtr<Logged> b(new Logged("b", &log));
  log.clear();
  a = b;
  const std::vector<std::string> expected = {"addref b", "release a", "delete a"};
  EXPECT_EQ(expected, log);
  log.clear();
  Logged* raw = new Logged("c", &log);
  a = raw;
  const std::vector<std::string> expected_raw = {"addref c", "release b"};
  EXPECT_EQ(expected_raw, log);
}

// The new target is owned only by the old one: dropping the old first would
// destroy the new one before it is taken.
TEST(RefPtrTest, AssigningAPointerOwnedOnlyByTheOldTarget) {
  std::vector<std::string> log;
  RefPtr<Logged> head(new Logged("head", &log));
  head->next = RefPtr<Logged>(new Logged("tail", &log));
  log.clear();
  head = head->next;
  const std::vector<std::string> expected = {"addref tail", "release head", "delete head",
                                             "release tail"};
  EXPECT_EQ(expected, log);
  ASSERT_TRUE(head);
  EXPECT_EQ(1, head->RefCountForTesting());
}

TEST(RefPtrTest, SelfAssignmentKeepsTheObject) {
  std::atomic<int> destroyed{0};
  RefPtr<Counted> p(new Counted(&destroyed));
  RefPtr<Counted>& alias = p;
  p = alias;
  EXPECT_EQ(0, destroyed);
  EXPECT_EQ(1, p->RefCountForTesting());
  p = std::move(alias);
  EXPECT_EQ(0, destroyed);
  ASSERT_TRUE(p);
  EXPECT_EQ(1, p->RefCountForTesting());
  p = p.get();
  EXPECT_EQ(0, destroyed);
  EXPECT_EQ(1, p->RefCountForTesting());
}

TEST(RefPtrTest, MoveLeavesNullAndTransfersWithoutCounting) {
  std::vector<std::string> log;
  RefPtr<Logged> a(new Logged("a", &log));
  log.clear();
  RefPtr<Logged> b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_TRUE(log.empty());
  RefPtr<Logged> c;
  c = std::move(b);
  EXPECT_FALSE(b);
  EXPECT_TRUE(log.empty());
  RefPtr<chat_base::CountObject> base(std::move(c));
  EXPECT_FALSE(c);
  EXPECT_TRUE(log.empty());
  base.reset();
  const std::vector<std::string> expected = {"release a", "delete a"};
  EXPECT_EQ(expected, log);
}

TEST(RefPtrTest, MakeRefCountedHandsOutTheFirstReference) {
  std::atomic<int> destroyed{0};
  auto p = chat_base::MakeRefCounted<Counted>(&destroyed);
  EXPECT_EQ(1, p->RefCountForTesting());
  RefPtr<chat_base::CountObject> base = p;
  EXPECT_EQ(2, p->RefCountForTesting());
  EXPECT_TRUE(base == p);
  p = nullptr;
  base = nullptr;
  EXPECT_EQ(1, destroyed);
}

}  // namespace
