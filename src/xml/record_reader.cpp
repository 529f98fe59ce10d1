#include "xml/record_reader.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>

#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "xml/markup_bounds.h"
#include "xml/record_parse.h"
#include "xml/utf8_repair.h"
#include "xml/xml_library.h"

namespace quillmore {
namespace {

// libxml2 refuses entity references nested deeper (without XML_PARSE_HUGE).
constexpr int kMaxEntityNesting = 40;

std::string_view View(const xmlChar* s) {
  return s != nullptr ? std::string_view(reinterpret_cast<const char*>(s))
                      : std::string_view();
}

// One parse's bounds, what is left of them, and its progress: in the
// _private field of its parser context and of the contexts libxml2 makes
// for entity replacement text.
struct ParseState {
  xmlParserCtxt* outer = nullptr;
  std::size_t expansion_left = 0;
  std::size_t attribute_declarations = 0;
  int depth = 0;  // elements open, entity replacement text included
  std::size_t namespaces = 0;
  std::vector<std::pair<int, int>> declared;  // (depth, count), innermost last
  bool failed = false;
  // Reading events only:
  RecordHandler* handler = nullptr;
  int open = 0;  // elements open outside entity replacement text
};

xmlParserCtxt* ContextOf(void* ctx) { return static_cast<xmlParserCtxt*>(ctx); }
ParseState& StateOf(void* ctx) {
  return *static_cast<ParseState*>(ContextOf(ctx)->_private);
}

// Ends the parse; the record fails. xmlStopParser would free the input while
// the parser function that called us still reads it (libxml2 2.9.14 writes
// its old position back after a characters callback), so only the state
// changes: every parser loop tests it.
void Stop(void* ctx) {
  ParseState& state = StateOf(ctx);
  state.failed = true;
  for (xmlParserCtxt* c : {ContextOf(ctx), state.outer}) {
    c->instate = XML_PARSER_EOF;
    c->disableSAX = 1;
  }
}

// Every error that makes the document fail ends the parse at once, so no
// work is done past it.
void OnError(void* ctx, XmlErrorPointer error) {
  if (error->level == XML_ERR_FATAL ||
      (error->domain == XML_FROM_NAMESPACE && error->level == XML_ERR_ERROR)) {
    Stop(ctx);
  }
}

bool Spend(void* ctx, std::size_t bytes) {
  ParseState& state = StateOf(ctx);
  if (bytes > state.expansion_left) {
    Stop(ctx);
    return false;
  }
  state.expansion_left -= bytes;
  return true;
}

// Every reference to an entity, wherever the parser meets it, asks for it
// here: its replacement text counts against the record's bound.
xmlEntity* OnGetEntity(void* ctx, const xmlChar* name) {
  xmlEntity* entity = xmlSAX2GetEntity(ctx, name);
  if (entity != nullptr && entity->etype == XML_INTERNAL_GENERAL_ENTITY) {
    Spend(ctx, static_cast<std::size_t>(entity->length));
  }
  return entity;
}

// Replacement text is parsed like the record: its tags are held to the same
// attribute bound before any reference reaches the parser.
void OnEntityDecl(void* ctx, const xmlChar* name, int type,
                  const xmlChar* public_id, const xmlChar* system_id,
                  xmlChar* content) {
  if (content != nullptr &&
      !WithinAttributeBound(View(content), kMaxAttributes)) {
    Stop(ctx);
    return;
  }
  xmlSAX2EntityDecl(ctx, name, type, public_id, system_id, content);
}

// libxml2 adds declared defaults to each element by comparing them with its
// attributes and with each other: their number stays small.
void OnAttributeDecl(void* ctx, const xmlChar* element, const xmlChar* name,
                     int type, int def, const xmlChar* default_value,
                     xmlEnumeration* tree) {
  if (++StateOf(ctx).attribute_declarations > kMaxAttributeDeclarations) {
    xmlFreeEnumeration(tree);
    Stop(ctx);
    return;
  }
  xmlSAX2AttributeDecl(ctx, element, name, type, def, default_value, tree);
}

// libxml2 looks every prefix up through all namespaces in scope.
bool EnterElement(void* ctx, int namespaces) {
  ParseState& state = StateOf(ctx);
  ++state.depth;
  if (namespaces == 0) return true;
  state.declared.emplace_back(state.depth, namespaces);
  state.namespaces += static_cast<std::size_t>(namespaces);
  if (state.namespaces <= kMaxNamespacesInScope) return true;
  Stop(ctx);
  return false;
}

void LeaveElement(void* ctx) {
  ParseState& state = StateOf(ctx);
  if (!state.declared.empty() && state.declared.back().first == state.depth) {
    state.namespaces -= static_cast<std::size_t>(state.declared.back().second);
    state.declared.pop_back();
  }
  --state.depth;
}

// ---- Events ----------------------------------------------------------------

// An attribute value as the parser hands it over without substituting
// entities ("&#38;" for a literal '&', "&name;" for a reference), turned
// into the text libxml2's tree gives for it: references replaced by the
// text of their replacement text, character references decoded, anything
// else as it stands.
bool AppendValue(void* ctx, std::string_view value, std::string& out,
                 int nesting) {
  xmlParserCtxt* ctxt = ContextOf(ctx);
  for (std::size_t amp; (amp = value.find('&')) != std::string_view::npos;) {
    out.append(value.substr(0, amp));
    const std::size_t semicolon = value.find(';', amp);
    if (semicolon == std::string_view::npos) return true;
    const std::string_view ref = value.substr(amp + 1, semicolon - amp - 1);
    value.remove_prefix(semicolon + 1);
    if (!ref.empty() && ref[0] == '#') {
      const bool hex = ref.size() > 1 && ref[1] == 'x';
      std::uint32_t c = 0;
      for (char d : ref.substr(hex ? 2 : 1)) {
        const int digit = d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10;
        c = c * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
        if (c > 0x10FFFF) return true;  // the parser refused it already
      }
      if (c != 0) AppendUtf8(out, c);
      continue;
    }
    const std::string name(ref);
    xmlEntity* entity = xmlGetDocEntity(
        ctxt->myDoc, reinterpret_cast<const xmlChar*>(name.c_str()));
    if (entity == nullptr || entity->content == nullptr) continue;
    if (entity->etype == XML_INTERNAL_PREDEFINED_ENTITY) {
      out.append(View(entity->content));
      continue;
    }
    if (nesting >= kMaxEntityNesting ||
        !Spend(ctx, static_cast<std::size_t>(entity->length)) ||
        !AppendValue(ctx, View(entity->content), out, nesting + 1)) {
      return false;
    }
  }
  out.append(value);
  return true;
}

class SaxAttributes final : public RecordAttributes {
 public:
  SaxAttributes(void* ctx, const xmlChar** attributes, int count)
      : ctx_(ctx), attributes_(attributes), count_(count) {}
  std::size_t size() const override { return static_cast<std::size_t>(count_); }
  std::string_view Prefix(std::size_t i) const override {
    return View(attributes_[5 * i + 1]);
  }
  std::string_view Name(std::size_t i) const override {
    return View(attributes_[5 * i]);
  }
  std::optional<std::string_view> Value(std::size_t i,
                                        std::string& scratch) const override {
    const char* begin = reinterpret_cast<const char*>(attributes_[5 * i + 3]);
    const char* end = reinterpret_cast<const char*>(attributes_[5 * i + 4]);
    const std::string_view raw(begin, static_cast<std::size_t>(end - begin));
    if (raw.find('&') == std::string_view::npos) return raw;
    scratch.clear();
    if (!AppendValue(ctx_, raw, scratch, 0)) return std::nullopt;
    return std::string_view(scratch);
  }

 private:
  void* ctx_;
  const xmlChar** attributes_;
  int count_;
};

void OnStartElement(void* ctx, const xmlChar* localname, const xmlChar*,
                    const xmlChar* uri, int nb_namespaces, const xmlChar**,
                    int nb_attributes, int nb_defaulted,
                    const xmlChar** attributes) {
  if (!EnterElement(ctx, nb_namespaces)) return;
  // Elements inside entity replacement text are not part of the tree that
  // lookups saw; only their text is.
  if (ContextOf(ctx)->depth > 0) return;
  ParseState& state = StateOf(ctx);
  const std::string_view name =
      state.open > 0 && uri == nullptr ? View(localname) : std::string_view();
  ++state.open;
  const SaxAttributes list(ctx, attributes, nb_attributes - nb_defaulted);
  if (!state.handler->OnStart(name, list)) Stop(ctx);
}

void OnEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  LeaveElement(ctx);
  if (ContextOf(ctx)->depth > 0) return;
  ParseState& state = StateOf(ctx);
  --state.open;
  if (!state.handler->OnEnd()) Stop(ctx);
}

void OnCharacters(void* ctx, const xmlChar* text, int length) {
  ParseState& state = StateOf(ctx);
  if (state.failed || state.open == 0) return;
  if (!state.handler->OnText(
          std::string_view(reinterpret_cast<const char*>(text),
                           static_cast<std::size_t>(length)))) {
    Stop(ctx);
  }
}

// Entity declarations need a document to live in; we make it only for a
// record that has a document type declaration.
void OnInternalSubset(void* ctx, const xmlChar* name, const xmlChar* public_id,
                      const xmlChar* system_id) {
  if (ContextOf(ctx)->myDoc == nullptr) xmlSAX2StartDocument(ctx);
  xmlSAX2InternalSubset(ctx, name, public_id, system_id);
}

// ---- Trees -----------------------------------------------------------------

void OnTreeStart(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                 const xmlChar* uri, int nb_namespaces,
                 const xmlChar** namespaces, int nb_attributes,
                 int nb_defaulted, const xmlChar** attributes) {
  if (!EnterElement(ctx, nb_namespaces)) return;
  xmlSAX2StartElementNs(ctx, localname, prefix, uri, nb_namespaces, namespaces,
                        nb_attributes, nb_defaulted, attributes);
}

void OnTreeEnd(void* ctx, const xmlChar* localname, const xmlChar* prefix,
               const xmlChar* uri) {
  LeaveElement(ctx);
  xmlSAX2EndElementNs(ctx, localname, prefix, uri);
}

// Parses `text` (UTF-8) within the bounds, keeping count in `state`;
// `events` reads it into the state's handler instead of building a tree.
// Null when the record fails or, reading events, has no document type
// declaration.
XmlPtr<xmlDoc> Parse(std::string_view text, ParseState& state, bool events) {
  state.failed = true;
  if (text.size() > static_cast<std::size_t>(INT_MAX) ||
      !WithinAttributeBound(text, kMaxAttributes)) {
    return nullptr;
  }
  XmlPtr<xmlParserCtxt> context(xmlNewParserCtxt());
  if (!context) return nullptr;
  xmlSAXHandler& sax = *context->sax;
  sax.serror = &OnError;
  sax.getEntity = &OnGetEntity;
  sax.entityDecl = &OnEntityDecl;
  sax.attributeDecl = &OnAttributeDecl;
  sax.startElementNs = &OnTreeStart;
  sax.endElementNs = &OnTreeEnd;
  if (events) {
    sax.startDocument = nullptr;
    sax.endDocument = nullptr;
    sax.internalSubset = &OnInternalSubset;
    sax.startElementNs = &OnStartElement;
    sax.endElementNs = &OnEndElement;
    sax.characters = &OnCharacters;
    sax.ignorableWhitespace = &OnCharacters;
    sax.cdataBlock = &OnCharacters;
    sax.reference = nullptr;
    sax.comment = nullptr;
    sax.processingInstruction = nullptr;
    sax.setDocumentLocator = nullptr;
  }
  // The text is read as UTF-8: no encoding is switched to (that would copy
  // it once more), and the one declared is ignored.
  XmlPtr<xmlParserInputBuffer> buffer(xmlParserInputBufferCreateMem(
      text.data(), static_cast<int>(text.size()), XML_CHAR_ENCODING_NONE));
  if (!buffer) return nullptr;
  XmlPtr<xmlParserInput> input(
      xmlNewIOInputStream(context.get(), buffer.get(), XML_CHAR_ENCODING_NONE));
  if (!input) return nullptr;
  buffer.release();  // the input's
  // The context takes the input whether the push succeeds or not (libxml2
  // frees it when its stack can't grow).
  if (inputPush(context.get(), input.release()) < 0) return nullptr;
  xmlCtxtUseOptions(context.get(), kXmlParseOptions | XML_PARSE_IGNORE_ENC);
  state.failed = false;
  state.outer = context.get();
  state.expansion_left = kExpansionFactor * text.size() + kExpansionBase;
  context->_private = &state;
  xmlParseDocument(context.get());
  XmlPtr<xmlDoc> doc(context->myDoc);
  context->myDoc = nullptr;
  if (context->wellFormed == 0 || context->nsWellFormed == 0) {
    state.failed = true;
  }
  return state.failed ? nullptr : std::move(doc);
}

}  // namespace

std::string_view AsUtf8(const char* text, std::string& repaired) {
  const std::string_view view(text);
  if (IsValidUtf8(view)) return view;
  repaired = RepairUtf8(view);
  return repaired;
}

XmlPtr<xmlDoc> ParseRecordTree(const char* text) {
  std::string repaired;
  ParseState state;
  return Parse(AsUtf8(text, repaired), state, false);
}

bool ReadRecord(const char* text, RecordHandler& handler) {
  XmlCallScope scope;
  if (text == nullptr) return false;
  std::string repaired;
  ParseState state;
  state.handler = &handler;
  Parse(AsUtf8(text, repaired), state, true);
  return !state.failed;
}

// ---- Result trees
// ------------------------------------------------------------

namespace {

class TreeAttributes final : public RecordAttributes {
 public:
  explicit TreeAttributes(const xmlNode& element) {
    for (const xmlAttr* a = element.properties; a != nullptr; a = a->next) {
      ++count_;
    }
    first_ = element.properties;
  }
  std::size_t size() const override { return count_; }
  std::string_view Prefix(std::size_t i) const override {
    const xmlAttr& a = At(i);
    return a.ns != nullptr ? View(a.ns->prefix) : std::string_view();
  }
  std::string_view Name(std::size_t i) const override {
    return View(At(i).name);
  }
  std::optional<std::string_view> Value(std::size_t i,
                                        std::string& scratch) const override {
    const xmlAttr& a = At(i);
    scratch.clear();
    // Only text: ReadResultTree leaves any other child to the serialisation.
    for (const xmlNode* n = a.children; n != nullptr; n = n->next) {
      scratch.append(View(n->content));
    }
    return std::string_view(scratch);
  }

 private:
  // Attributes are asked for in order, so the walk resumes where it was.
  const xmlAttr& At(std::size_t i) const {
    if (i < index_ || cursor_ == nullptr) {
      index_ = 0;
      cursor_ = first_;
    }
    for (; index_ < i; ++index_) cursor_ = cursor_->next;
    return *cursor_;
  }

  const xmlAttr* first_ = nullptr;
  std::size_t count_ = 0;
  mutable const xmlAttr* cursor_ = nullptr;
  mutable std::size_t index_ = 0;
};

bool Blank(std::string_view text) {
  return text.find_first_not_of(" \t\n") == std::string_view::npos;
}

// Nodes whose meaning comes from serialising and parsing again: entity
// references, text whose escaping was disabled, a carriage return in CDATA
// (written as it is, it is read as a line feed).
bool NeedsText(const xmlNode& node) {
  if (node.type == XML_ENTITY_REF_NODE) return true;
  if (node.type == XML_TEXT_NODE) return node.name == xmlStringTextNoenc;
  if (node.type == XML_CDATA_SECTION_NODE) {
    return View(node.content).find('\r') != std::string_view::npos;
  }
  if (node.type != XML_ELEMENT_NODE) return false;
  for (const xmlAttr* a = node.properties; a != nullptr; a = a->next) {
    for (const xmlNode* n = a->children; n != nullptr; n = n->next) {
      if (n->type != XML_TEXT_NODE) return true;
    }
  }
  return false;
}

}  // namespace

TreeRead ReadResultTree(const xmlDoc& doc, RecordHandler& handler,
                        std::size_t limit) {
  const xmlNode* root = nullptr;
  for (const xmlNode* n = doc.children; n != nullptr; n = n->next) {
    switch (n->type) {
      case XML_ELEMENT_NODE:
        if (root != nullptr) return TreeRead::kFailed;
        root = n;
        break;
      case XML_TEXT_NODE:
        if (NeedsText(*n)) return TreeRead::kNeedsText;
        if (!Blank(View(n->content))) return TreeRead::kFailed;
        break;
      case XML_COMMENT_NODE:
      case XML_PI_NODE:
        break;
      case XML_DTD_NODE:
      case XML_ENTITY_REF_NODE:
        return TreeRead::kNeedsText;
      default:
        return TreeRead::kFailed;
    }
  }
  if (root == nullptr) return TreeRead::kFailed;
  std::size_t used = 0;
  const auto spend = [&](std::string_view s) {
    return (used += s.size()) <= limit;
  };
  const xmlNode* n = root;
  while (true) {
    if (NeedsText(*n)) return TreeRead::kNeedsText;
    bool descend = false;
    if (n->type == XML_ELEMENT_NODE) {
      const std::string_view local = View(n->name);
      const TreeAttributes attributes(*n);
      for (const xmlAttr* a = n->properties; a != nullptr; a = a->next) {
        for (const xmlNode* t = a->children; t != nullptr; t = t->next) {
          if (!spend(View(t->content))) return TreeRead::kTooLarge;
        }
      }
      if (!spend(local)) return TreeRead::kTooLarge;
      if (!handler.OnStart(
              n != root && n->ns == nullptr ? local : std::string_view(),
              attributes)) {
        return TreeRead::kFailed;
      }
      descend = true;
    } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      const std::string_view text = View(n->content);
      if (!spend(text)) return TreeRead::kTooLarge;
      if (!handler.OnText(text)) return TreeRead::kFailed;
    }
    if (descend && n->children != nullptr) {
      n = n->children;
      continue;
    }
    if (descend && !handler.OnEnd()) return TreeRead::kFailed;
    // Up to the next sibling, closing the elements left behind.
    while (n != root && n->next == nullptr) {
      n = n->parent;
      if (!handler.OnEnd()) return TreeRead::kFailed;
    }
    if (n == root) return TreeRead::kOk;
    n = n->next;
  }
}

}  // namespace quillmore
