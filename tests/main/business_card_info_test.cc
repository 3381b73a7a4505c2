#include "store/business_card_info.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QVariant>

#include <algorithm>
#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace {

BusinessCardInfo Card(const char* uuid, const char* nick = "") {
  BusinessCardInfo card;
  card.uuid = QString::fromUtf8(uuid);
  card.nickName = QString::fromUtf8(nick);
  card.remark = "remark";
  card.online = 1;
  card.section = QString::fromUtf8("研发部");
  card.position = "tester";
  card.telephone = "+86 10";
  card.email = "a@b.c";
  card.device = "host-1";
  return card;
}

QByteArray Stream(const BusinessCardInfo& card) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << card;
  return bytes;
}

TEST(BusinessCardInfoTest, StreamFormIsEightStringsInTheirOrder) {
  const BusinessCardInfo card = Card("{u-1}", "小王");
  QDataStream in(Stream(card));
  QString parts[8];
  for (QString& part : parts) in >> part;
  EXPECT_EQ(QDataStream::Ok, in.status());
  EXPECT_TRUE(in.atEnd());  // online is not streamed
  const QString expected[8] = {card.uuid,      card.nickName, card.section, card.position,
                               card.telephone, card.email,    card.device,  card.remark};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(expected[i], parts[i]) << i;
}

TEST(BusinessCardInfoTest, RoundTripKeepsEveryStreamedFieldButNotOnline) {
  const BusinessCardInfo card = Card("{u-1}", "小王");
  QDataStream in(Stream(card));
  BusinessCardInfo back;
  in >> back;
  EXPECT_EQ(QDataStream::Ok, in.status());
  EXPECT_EQ(card.uuid, back.uuid);
  EXPECT_EQ(card.nickName, back.nickName);
  EXPECT_EQ(card.remark, back.remark);
  EXPECT_EQ(card.section, back.section);
  EXPECT_EQ(card.position, back.position);
  EXPECT_EQ(card.telephone, back.telephone);
  EXPECT_EQ(card.email, back.email);
  EXPECT_EQ(card.device, back.device);
  EXPECT_EQ(0, back.online);
}

TEST(BusinessCardInfoTest, EqualityAndOrderFollowTheUuidOnly) {
  BusinessCardInfo a = Card("{a}", "one");
  BusinessCardInfo same = Card("{a}", "two");
  same.device = "other";
  same.online = 0;
  const BusinessCardInfo b = Card("{b}", "one");
  EXPECT_TRUE(a == same);
  EXPECT_FALSE(a != same);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_FALSE(a < same);
  std::set<BusinessCardInfo> cards = {b, a, same};
  EXPECT_EQ(2u, cards.size());
  std::vector<BusinessCardInfo> list = {Card("{c}"), Card("{a}"), Card("{b}")};
  std::sort(list.begin(), list.end());
  EXPECT_EQ("{a}", list[0].uuid);
  EXPECT_EQ("{c}", list[2].uuid);
}

TEST(GroupInfoTest, StreamsGroupUuidThenName) {
  GroupInfo group{"{g-1}", QString::fromUtf8("默认分组")};
  QByteArray bytes;
  {
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << group;
  }
  QDataStream in(bytes);
  QString first, second;
  in >> first >> second;
  EXPECT_EQ("{g-1}", first);
  EXPECT_EQ(group.groupName, second);
  GroupInfo back;
  QDataStream again(bytes);
  again >> back;
  EXPECT_EQ(group.groupUuid, back.groupUuid);
  EXPECT_EQ(group.groupName, back.groupName);
}

// What item data and drag and drop rely on: variants saved and loaded
// through the registered stream operators.
TEST(RecordMetaTypeTest, VariantsOfRegisteredTypesSurviveAStream) {
  const int card_type = qRegisterMetaType<BusinessCardInfo>("BusinessCardInfo");
  qRegisterMetaTypeStreamOperators<BusinessCardInfo>("BusinessCardInfo");
  qRegisterMetaTypeStreamOperators<GroupInfo>("GroupInfo");
  EXPECT_EQ(card_type, QMetaType::type("BusinessCardInfo"));
  EXPECT_NE(QMetaType::UnknownType, QMetaType::type("GroupInfo"));

  QByteArray bytes;
  {
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QVariant::fromValue(Card("{v}", "variant"))
        << QVariant::fromValue(GroupInfo{"{g}", "n"});
  }
  QDataStream in(bytes);
  QVariant card, group;
  in >> card >> group;
  ASSERT_EQ(QDataStream::Ok, in.status());
  ASSERT_TRUE(card.canConvert<BusinessCardInfo>());
  EXPECT_EQ("variant", card.value<BusinessCardInfo>().nickName);
  EXPECT_EQ("host-1", card.value<BusinessCardInfo>().device);
  EXPECT_EQ("{g}", group.value<GroupInfo>().groupUuid);
}

}  // namespace
