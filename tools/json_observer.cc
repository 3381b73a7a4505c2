#include "tools/json_observer.h"

namespace qnchat_peer {

namespace {

Json::Value Event(const char* name) {
  Json::Value value(Json::objectValue);
  value["event"] = name;
  return value;
}

}  // namespace

Json::Value PeerJson(const chat::ChatPeerInfo& info) {
  Json::Value value(Json::objectValue);
  value["nickName"] = info.nickName;
  value["hostName"] = info.hostName;
  value["uuid"] = info.uuid;
  value["address"] = info.address;
  return value;
}

void JsonObserver::OnPeerEntry(const chat::ChatPeerInfo& info) {
  Json::Value value = PeerJson(info);
  value["event"] = "OnPeerEntry";
  out_->Write(value);
}

void JsonObserver::OnPeerExit(const chat::ChatPeerInfo& info) {
  Json::Value value = PeerJson(info);
  value["event"] = "OnPeerExit";
  out_->Write(value);
}

void JsonObserver::OnSendMessageCompleted(int64_t seq) {
  Json::Value value = Event("OnSendMessageCompleted");
  value["seq"] = Json::Int64(seq);
  out_->Write(value);
}

void JsonObserver::OnSendMessageFailed(int64_t seq) {
  Json::Value value = Event("OnSendMessageFailed");
  value["seq"] = Json::Int64(seq);
  out_->Write(value);
}

void JsonObserver::OnRecvText(int64_t seq, const std::string& text, const std::string& hostName,
                              const std::string& uuid) {
  Json::Value value = Event("OnRecvText");
  value["seq"] = Json::Int64(seq);
  value["text"] = text;
  value["hostName"] = hostName;
  value["uuid"] = uuid;
  out_->Write(value);
}

void JsonObserver::OnRecvFileUrl(int64_t seq, const std::string& url, const std::string& fileName,
                                 const std::string& hostName, const std::string& uuid) {
  Json::Value value = Event("OnRecvFileUrl");
  value["seq"] = Json::Int64(seq);
  value["url"] = url;
  value["fileName"] = fileName;
  value["hostName"] = hostName;
  value["uuid"] = uuid;
  out_->Write(value);
}

void JsonObserver::OnRecvBusinessInfo(const chat::ChatBusinessInfo& info,
                                      const std::string& hostName, const std::string& uuid) {
  Json::Value value = Event("OnRecvBusinessInfo");
  value["nickName"] = info.nickName;
  value["section"] = info.section;
  value["position"] = info.position;
  value["telephone"] = info.telephone;
  value["email"] = info.email;
  value["hostName"] = hostName;
  value["uuid"] = uuid;
  out_->Write(value);
}

void JsonObserver::OnRecvShareScreenUrl(const std::string& url, const std::string& hostName,
                                        const std::string& uuid) {
  {
    std::lock_guard<std::mutex> lock(offers_mutex_);
    offers_[url] = {hostName, uuid};
  }
  Json::Value value = Event("OnRecvShareScreenUrl");
  value["url"] = url;
  value["hostName"] = hostName;
  value["uuid"] = uuid;
  out_->Write(value);
}

bool JsonObserver::FindOffer(const std::string& url, std::pair<std::string, std::string>* peer) {
  std::lock_guard<std::mutex> lock(offers_mutex_);
  auto it = offers_.find(url);
  if (it == offers_.end()) return false;
  *peer = it->second;
  return true;
}

void JsonObserver::OnMediaSessionClosed(const std::string& uri, const std::string& hostName,
                                        const std::string& uuid) {
  Json::Value value = Event("OnMediaSessionClosed");
  value["uri"] = uri;
  value["hostName"] = hostName;
  value["uuid"] = uuid;
  out_->Write(value);
}

void JsonObserver::OnRecallResult(int64_t seq, bool accepted) {
  Json::Value value = Event("OnRecallResult");
  value["seq"] = Json::Int64(seq);
  value["accepted"] = accepted;
  out_->Write(value);
}

bool JsonObserver::OnRecall(int64_t seq, const std::string& hostName, const std::string& uuid) {
  const bool accepted = accept_recall_.load();
  Json::Value value = Event("OnRecall");
  value["seq"] = Json::Int64(seq);
  value["hostName"] = hostName;
  value["uuid"] = uuid;
  value["accepted"] = accepted;
  out_->Write(value);
  return accepted;
}

}  // namespace qnchat_peer
