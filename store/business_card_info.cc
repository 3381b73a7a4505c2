#include "store/business_card_info.h"

bool operator==(const BusinessCardInfo& a, const BusinessCardInfo& b) { return a.uuid == b.uuid; }

bool operator!=(const BusinessCardInfo& a, const BusinessCardInfo& b) { return !(a == b); }

bool operator<(const BusinessCardInfo& a, const BusinessCardInfo& b) { return a.uuid < b.uuid; }

QDataStream& operator<<(QDataStream& out, const BusinessCardInfo& card) {
  return out << card.uuid << card.nickName << card.section << card.position << card.telephone
             << card.email << card.device << card.remark;
}

QDataStream& operator>>(QDataStream& in, BusinessCardInfo& card) {
  return in >> card.uuid >> card.nickName >> card.section >> card.position >> card.telephone >>
         card.email >> card.device >> card.remark;
}

QDataStream& operator<<(QDataStream& out, const GroupInfo& group) {
  return out << group.groupUuid << group.groupName;
}

QDataStream& operator>>(QDataStream& in, GroupInfo& group) {
  return in >> group.groupUuid >> group.groupName;
}
