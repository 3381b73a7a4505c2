// Value records of contacts and groups that cross the user interface, the
// database and queued signal/slot calls. Plain values: copy freely, use from
// one thread at a time per object.
#pragma once

#include <QDataStream>
#include <QMetaType>
#include <QString>

// What every contact record carries.
class BaseInfo {
 public:
  virtual ~BaseInfo() = default;

  QString uuid;  // the peer's identifier
  QString nickName;
  QString remark;     // the local user's note for this contact
  qint32 online = 0;  // 0 or 1
};

// A contact's business card. Cards are the same contact when their uuids are
// equal, whatever the other fields say; they order by uuid.
class BusinessCardInfo : public BaseInfo {
 public:
  QString section;
  QString position;
  QString telephone;
  QString email;
  QString device;  // the peer's computer name
};

bool operator==(const BusinessCardInfo& a, const BusinessCardInfo& b);
bool operator!=(const BusinessCardInfo& a, const BusinessCardInfo& b);
bool operator<(const BusinessCardInfo& a, const BusinessCardInfo& b);

// Eight strings: uuid, nickName, section, position, telephone, email, device,
// remark. The online state is not streamed; reading leaves it untouched.
QDataStream& operator<<(QDataStream& out, const BusinessCardInfo& card);
QDataStream& operator>>(QDataStream& in, BusinessCardInfo& card);

struct GroupInfo {
  QString groupUuid;
  QString groupName;
};

// groupUuid, then groupName.
QDataStream& operator<<(QDataStream& out, const GroupInfo& group);
QDataStream& operator>>(QDataStream& in, GroupInfo& group);

Q_DECLARE_METATYPE(BusinessCardInfo)
Q_DECLARE_METATYPE(GroupInfo)
