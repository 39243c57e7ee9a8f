#include "platform/services/register.h"

#include "platform/core/dictionary.h"
#include "platform/core/text_builder.h"
#include "platform/data/register.h"
#include "platform/host/registry.h"
#include "platform/services/business_partner.h"
#include "platform/services/configuration.h"
#include "platform/services/configurator.h"
#include "platform/services/currency.h"
#include "platform/services/data_functions.h"
#include "platform/services/log.h"
#include "platform/services/mail_message.h"
#include "platform/services/membership.h"
#include "platform/services/message_manager.h"
#include "platform/services/product_catalog.h"
#include "platform/services/referential_checker.h"
#include "platform/services/sql_value_encoder.h"

namespace platform {

void RegisterPlatformComponents() {
  RegisterClass<Dictionary>("Scripting.Dictionary");
  RegisterClass<TextBuilder>("StrCat.Catter");
  RegisterClass<Configuration>("Orvanta.Configuration");
  RegisterClass<Log>("Orvanta.Log");
  RegisterClass<DataFunctions>("Wrenlow.DataFunctions");
  RegisterClass<I18NMessageManager>("I18NMessageManager");
  RegisterClass<CurrencyService>("Kelmor.Currency");
  RegisterClass<BusinessPartner>("Kelmor.BusinessPartner");
  RegisterClass<Members>("Dunmere.Members");
  RegisterClass<MemberUser>("Dunmere.User");
  RegisterClass<ProductCatalog>("Brevane.Product");
  RegisterClass<ReferentialChecker>("Orvanta.ReferentialChecker");
  RegisterClass<Configurator>("Syntaro.Configurator");
  RegisterClass<SqlValueEncoder>("SqlValueEncoder");
  RegisterClass<MailMessage>("CDO.Message");
  data::RegisterDataComponents();
}

}  // namespace platform
