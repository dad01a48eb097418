// The production database left out of this build: every call says so.
#include "production/database.h"

namespace vantor::production {

namespace {

constexpr const char* kLeftOut = "this build of vantor has no database support (--database)";

class NoDatabase final : public ProductionDatabase {
 public:
  bool Connect(std::string& error) override { return (error = kLeftOut), false; }
  bool Insert(const std::string&, const RecordSummary&, bool&, std::string& error) override {
    return Connect(error);
  }
  bool ReadAll(std::vector<RecordSummary>&, std::string& error) override { return Connect(error); }
  std::shared_ptr<UnitNumbers> Counter(const std::string&, std::optional<std::uint64_t>,
                                       std::uint64_t) override {
    return nullptr;
  }
};

}  // namespace

bool ProductionDatabase::BuiltIn() {
  return false;
}

std::shared_ptr<ProductionDatabase> ProductionDatabase::Open(const std::string&) {
  return std::make_shared<NoDatabase>();
}

}  // namespace vantor::production
