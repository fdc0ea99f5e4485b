// SPDX-License-Identifier: LGPL-2.1-or-later
// A typed configuration value: one text or one list of texts, or, once
// localised, one of them per locale.
//
//   PropertyNode title("title", TypeString);
//   title.setStringValue("Mail", "default");
//   title.modifyLocalised(true);          // "Mail" now under "default"
//   title.setStringValue("Post", "de");
//   title.getStringValue("de");           // "Post"; "fr" gives "" (no fallback)
#pragma once

#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "model/HollinExport.h"
#include "model/Node.h"
#include "model/PropertyType.h"

namespace vesk::legacy {

class HOLLIN_EXPORT PropertyNode : public Node {
  public:
    // One stored value: a text (scalar types) or a list of texts (list
    // types), or nothing while no value is set. Held in place rather than
    // behind a pointer, which saves an allocation per value; the property's
    // type still decides which kind may be read or written.
    class Value {
      public:
        Value() = default;
        Value(const Value&) = delete;
        Value& operator=(const Value&) = delete;

        bool isSet() const { return !std::holds_alternative<std::monostate>(mData); }

      private:
        friend class PropertyNode;
        std::variant<std::monostate, std::string, std::vector<std::string>> mData;
    };

    PropertyNode(const std::string& name, PropertyType type);
    ~PropertyNode() override;

    using Node::asPropertyNode;
    PropertyNode* asPropertyNode() override { return this; }
    Node* clone(bool deep) const override;
    void visit(NodeVisitor& visitor) override;
    void visit(ConstNodeVisitor& visitor) const override;

    PropertyType getType() const { return mType; }
    bool isList() const { return isListType(mType); }
    bool isLocalised() const { return (mAttributes & kLocalised) != 0; }

    // With true, a property holding a value becomes localised, the value
    // kept under "default". Anything else changes nothing.
    void modifyLocalised(bool localised);
    // Like modifyLocalised(true), but a property without a value becomes
    // localised too, with no locales yet.
    void localise();

    // Appends the locale keys in ascending order, or "default" when the
    // property is not localised (or its locales were never created).
    void getLocales(std::vector<std::string>& locales) const;

    // The shared empty text or list when there is no value of that kind.
    const std::string& getStringValue(const std::string& locale) const;
    const std::vector<std::string>& getListValue(const std::string& locale) const;
    // Writes of the wrong kind are ignored. Without localisation the locale
    // is ignored and the last write wins.
    void setStringValue(const std::string& value, const std::string& locale);
    void setListValue(const std::vector<std::string>& values, const std::string& locale);
    void addListValues(const std::vector<std::string>& values, const std::string& locale);

    // The value for exactly that locale (no fallback) when localised, else
    // the one value; null when there is none.
    const Value* findBestValue(const std::string& locale) const;

  private:
    // Values stay where they are filed, so pointers to them stay valid.
    using LocaleMap = std::map<std::string, Value, std::less<>>;

    Value* findValue(const std::string& locale);
    Value& valueForWrite(const std::string& locale);
    // The text or list a value holds, when the property's type allows that kind.
    const std::string* textOf(const Value& value) const;
    std::string* textOf(Value& value) const;
    const std::vector<std::string>* listOf(const Value& value) const;
    std::vector<std::string>* listOf(Value& value) const;

    PropertyType mType;
    // The value lives in mValue while not localised and in mLocales once
    // localised; two members, so no attribute change can make one be read as
    // the other.
    Value mValue;
    std::unique_ptr<LocaleMap> mLocales;
};

}  // namespace vesk::legacy
