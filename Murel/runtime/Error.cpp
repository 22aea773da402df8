#include "runtime/Error.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

namespace murel {

namespace {

QString unqualifiedTypeName(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  QString name = QString::fromLatin1(status == 0 && demangled ? demangled : type.name());
  std::free(demangled);
  const qsizetype templateStart = name.indexOf(QLatin1Char('<'));
  if (templateStart >= 0) name.truncate(templateStart);
  const qsizetype colon = name.lastIndexOf(QLatin1String("::"));
  return colon >= 0 ? name.mid(colon + 2) : name;
}

}  // namespace

ErrorDescription ErrorDescription::of(const std::exception& error) {
  if (const auto* own = dynamic_cast<const Error*>(&error)) return {own->typeName(), own->description()};
  return {unqualifiedTypeName(typeid(error)), QString::fromUtf8(error.what())};
}

ErrorDescription ErrorDescription::of(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return of(e);
  } catch (...) {
    return {QStringLiteral("Error"), QStringLiteral("Unknown error")};
  }
}

}  // namespace murel
