#include "platform/core/text_builder.h"

namespace platform {

const ClassBinding<TextBuilder>& TextBuilder::Binding() {
  // Late-bound callers pass any value; it joins the text as CStr renders it.
  static const auto b = ClassBinding<TextBuilder>("Catter")
      .Method("Append", &TextBuilder::AppendVariant)
      .Method("Dump", &TextBuilder::Dump);
  return b;
}

}  // namespace platform
