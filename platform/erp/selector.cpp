#include "platform/erp/selector.h"

#include "platform/erp/components.h"
#include "platform/host/registry.h"

namespace platform::erp {

namespace {

std::shared_ptr<Dictionary> SettingsOf(const std::optional<ErpInstance>& instance) {
  auto settings = Dictionary::New();
  if (!instance) return settings;
  settings->Add("componentid", Variant(instance->component_id));
  settings->Add("description", Variant(instance->description));
  if (instance->alignment) {
    settings->Add("alignment", Variant(int32_t{1}));
    settings->Add("itemsegmentationmask", Variant(instance->mask));
  }
  return settings;
}

}  // namespace

const ClassBinding<SelectorInstance>& SelectorInstance::Binding() {
  static const auto b = ClassBinding<SelectorInstance>("Instance")
                            .Method("Settings", &SelectorInstance::Settings)
                            .Method("ConnectorType", &SelectorInstance::ConnectorType);
  return b;
}

const ClassBinding<Selector>& Selector::Binding() {
  static const auto b = ClassBinding<Selector>("Selector")
                            .Method("GetInstanceSettings", &Selector::GetInstanceSettings)
                            .Method("GetInstance", &Selector::GetInstance);
  return b;
}

std::shared_ptr<Dictionary> Selector::GetInstanceSettings(int32_t kroId) {
  return SettingsOf(FindInstance(kroId));
}

std::shared_ptr<SelectorInstance> Selector::GetInstance(int32_t kroId) {
  const auto instance = FindInstance(kroId);
  return std::make_shared<SelectorInstance>(SettingsOf(instance),
                                            instance ? instance->connector_type : "");
}

void RegisterErpComponents() { RegisterClass<Selector>("Gantrel.Selector"); }

}  // namespace platform::erp
