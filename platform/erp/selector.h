// Gantrel.Selector turns a back-end instance id (the KROID of an order or
// basket) into the instance's settings and connector type, from the ERP's
// table of instances. Settings keys: "componentid" (empty dictionary for an
// unknown instance), "description", and for an aligned instance
// "alignment" and "itemsegmentationmask".
//
// Thread-safety: no state between calls; one caller at a time per object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"

namespace platform::erp {

class SelectorInstance : public Dispatchable<SelectorInstance> {
 public:
  static const ClassBinding<SelectorInstance>& Binding();
  SelectorInstance() = default;
  SelectorInstance(std::shared_ptr<Dictionary> settings, std::string type)
      : settings_(std::move(settings)), type_(std::move(type)) {}
  std::shared_ptr<Dictionary> Settings() const { return settings_; }
  // As stored ("tw5"); "" for an unknown instance.
  std::string ConnectorType() const { return type_; }

 private:
  std::shared_ptr<Dictionary> settings_ = Dictionary::New();
  std::string type_;
};

class Selector : public Dispatchable<Selector> {
 public:
  static const ClassBinding<Selector>& Binding();
  std::shared_ptr<Dictionary> GetInstanceSettings(int32_t kroId);
  std::shared_ptr<SelectorInstance> GetInstance(int32_t kroId);
};

// Registers Gantrel.Selector.
void RegisterErpComponents();

}  // namespace platform::erp
