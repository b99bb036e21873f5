// The base layer of the neural network library: a graph of nodes joined by directed links,
// the cursor list that holds each node's incoming and outgoing links, and the abstract network
// that owns its nodes and links in two tables and is itself a node.
//
// Every number that flows through the graph is a Double. A node carries value cells (cell 0 is
// its output) and error cells (cell 0 is its error or target); a link carries cells whose cell
// 0 is the weight. Writes through the public setters are range-checked (-1.0..1.0 inclusive,
// NaN refused); a failed check raises AssertionFailure and changes nothing. Loading from a
// stream stores cells unchecked, so trained weights may lie outside that range.
//
// Ownership: a network owns every node and link in its tables. A node owns its cells and its
// two lists; the lists only refer to links. Objects are used from one thread at a time; the
// identifier counters and the weight generator below are the only process-wide state and are
// safe to use from several threads at once.
#ifndef OCRB_NEURAL_BASE_H_
#define OCRB_NEURAL_BASE_H_

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "neural/failure.h"
#include "platform/error.h"
#include "platform/stream.h"

namespace ocrb {

// ---------------------------------------------------------------------------------------------
// Failures

// An operation that the class declares but does not implement was called. The message is
// "Abstract operation called: CLASS.OPERATION".
class AbstractCallError : public Error {
 public:
  explicit AbstractCallError(const std::string& operation);
};

// True for -1.0 <= Value <= 1.0; false for NaN.
inline bool InUnitRange(double value) {
  return value >= -1.0 && value <= 1.0;
}

// ---------------------------------------------------------------------------------------------
// Stream fields: signed 32-bit integers and IEEE doubles, little-endian, one stream call per
// field. The readers raise "Stream read error" on a short read.

void WriteInt32(TStream& stream, int32_t value);
void WriteDouble(TStream& stream, double value);
int32_t ReadInt32(TStream& stream);
double ReadDouble(TStream& stream);

// ---------------------------------------------------------------------------------------------
// Process-wide state

// Identifier counters. Each link constructor takes the next link identifier, each node and
// network constructor the next node identifier. Both counters start at -1, so a fresh process
// hands out 0 first. The counters are atomic.
int32_t NextLinkID();
int32_t NextNodeID();
// The identifier handed out last (-1 when none yet).
int32_t LastLinkID();
int32_t LastNodeID();
// Puts both counters back to -1, as in a fresh process (tests and the model trainer).
void ResetIDCounters();

// The seed the weight generator starts from in a fresh process; the library never reseeds
// it on its own, so the first weights of a fresh process are the same on every run.
constexpr uint64_t kDefaultRandomSeed = 5489;

// Restarts the weight generator from Seed: the weights drawn afterwards depend on Seed only.
void SeedRandomWeights(uint64_t seed);

// Low + r * (High - Low), r uniform in [0, 1) from the process-wide generator (a 64-bit
// Mersenne twister behind a mutex). The result must lie in Low..High.
double RandomWeight(double low, double high);

// ---------------------------------------------------------------------------------------------
// TLList: a doubly linked list of item references with one cursor.
//
// The list owns its cells, never its items, with one exception: DeleteCurrent (and so Remove)
// releases the item it unlinks. The cursor is reset to nil by Add, a missed Find,
// DeleteCurrent, ExtractCurrent and Clear, so nothing may be added to a list while it is walked.
// Every walk has one form: First, then Count times Current followed by Next.
template <class T>
class TLList {
 public:
  TLList() = default;
  ~TLList() { Clear(); }
  TLList(const TLList&) = delete;
  TLList& operator=(const TLList&) = delete;

  // Appends Item at the tail; the cursor is left nil. Returns 1.
  int32_t Add(T* item) {
    current_ = nullptr;
    return Insert(item);
  }

  // New cell for Item: at the tail when the cursor is nil, else just before the cursor (so
  // with the cursor on the head it becomes the head). The cursor stays where it is. Returns 1.
  // Raises "Unable to allocate Node..." when no cell can be made; the list is then unchanged.
  int32_t Insert(T* item) {
    std::unique_ptr<Cell> cell;
    try {
      cell = std::make_unique<Cell>();
    } catch (const std::bad_alloc&) {
      throw Error("Unable to allocate Node...");
    }
    cell->Item = item;
    Cell* raw = cell.get();
    if (current_ == nullptr) {
      cell->Prev = tail_;
      (tail_ != nullptr ? tail_->Next : head_) = std::move(cell);
      tail_ = raw;
    } else {
      cell->Prev = current_->Prev;
      std::unique_ptr<Cell>& slot = current_->Prev != nullptr ? current_->Prev->Next : head_;
      cell->Next = std::move(slot);
      slot = std::move(cell);
      current_->Prev = raw;
    }
    ++count_;
    return 1;
  }

  // Releases the cursor's item and its cell; the cursor becomes nil. 0 when the cursor is nil.
  int32_t DeleteCurrent() {
    if (current_ == nullptr) return 0;
    std::unique_ptr<T> item(ExtractCurrent());
    return 1;
  }

  // Unlinks the cursor's cell and hands its item to the caller without releasing it; the
  // cursor becomes nil. Nil when the cursor is nil.
  T* ExtractCurrent() {
    if (current_ == nullptr) return nullptr;
    Cell* cell = current_;
    T* item = cell->Item;
    std::unique_ptr<Cell>& slot = cell->Prev != nullptr ? cell->Prev->Next : head_;
    std::unique_ptr<Cell> owned = std::move(slot);
    if (cell->Next != nullptr) {
      cell->Next->Prev = cell->Prev;
    } else {
      tail_ = cell->Prev;
    }
    slot = std::move(cell->Next);
    current_ = nullptr;
    --count_;
    return item;
  }

  // Find(Item), then DeleteCurrent: releases Item. 0 when Item is not in the list.
  int32_t Remove(const T* item) { return Find(item) == 0 ? 0 : DeleteCurrent(); }

  // Puts the cursor on the first cell holding Item and returns its position counted from 1;
  // returns 0 and leaves the cursor nil when Item is absent.
  int32_t Find(const T* item) {
    current_ = nullptr;
    int32_t position = 1;
    for (Cell* cell = head_.get(); cell != nullptr; cell = cell->Next.get(), ++position) {
      if (cell->Item == item) {
        current_ = cell;
        return position;
      }
    }
    return 0;
  }

  // Releases every cell, never the items; the list is empty with a nil cursor.
  void Clear() {
    current_ = nullptr;
    tail_ = nullptr;
    while (head_ != nullptr) head_ = std::move(head_->Next);  // iterative: no deep recursion
    count_ = 0;
  }

  int32_t Count() const { return count_; }
  void First() { current_ = head_.get(); }
  void Last() { current_ = tail_; }
  // The cursor's item, nil when the cursor is nil.
  T* Current() const { return current_ != nullptr ? current_->Item : nullptr; }
  // Cursor to the next cell, from the tail round to the head. A nil cursor stays nil.
  void Next() {
    if (current_ != nullptr)
      current_ = current_->Next != nullptr ? current_->Next.get() : head_.get();
  }
  // Cursor to the previous cell, from the head round to the tail. A nil cursor stays nil.
  void Prev() {
    if (current_ != nullptr) current_ = current_->Prev != nullptr ? current_->Prev : tail_;
  }

 private:
  struct Cell {
    std::unique_ptr<Cell> Next;
    Cell* Prev = nullptr;
    T* Item = nullptr;
  };

  std::unique_ptr<Cell> head_;
  Cell* tail_ = nullptr;
  Cell* current_ = nullptr;
  int32_t count_ = 0;
};

class TBaseNode;

// ---------------------------------------------------------------------------------------------
// TBaseLink: one directed connection between two nodes. Cell 0 is the weight.
class TBaseLink {
 public:
  // New identifier; ValueCount cells of 0.0 (none, and a count of 0, when ValueCount <= 0);
  // no source and no destination.
  explicit TBaseLink(int32_t value_count);
  virtual ~TBaseLink() = default;
  TBaseLink(const TBaseLink&) = delete;
  TBaseLink& operator=(const TBaseLink&) = delete;

  // Base link record: ID, ValueCount, then that many Doubles. Loading replaces the cells with
  // as many as the record states, after checking that the stream holds them.
  virtual void SaveToStream(TStream& stream) const;
  virtual void LoadFromStream(TStream& stream);

  // Cell Index; requires 0 <= Index < ValueCount.
  virtual double GetValue(int32_t index) const;
  // Requires 0 <= Index < ValueCount and -1.0 <= Value <= 1.0.
  virtual void SetValue(int32_t index, double value);

  virtual void SetSourceNode(TBaseNode* node);
  virtual void SetDestNode(TBaseNode* node);
  virtual TBaseNode* GetSourceNode() const;
  virtual TBaseNode* GetDestNode() const;

  // Weight := weight + Delta; requires -1.0 <= Delta <= 1.0.
  virtual void UpdateWeight(double delta);

  virtual int32_t GetID() const;

  // The source's or destination's value or error cell Index. Requires the end to be attached.
  virtual double SourceValue(int32_t index) const;
  virtual double DestValue(int32_t index) const;
  virtual double SourceError(int32_t index) const;
  virtual double DestError(int32_t index) const;
  // The same cells times the weight (cell 0, whatever Index says). WeightedDestValue requires
  // the product to lie in -1.0..1.0.
  virtual double WeightedSourceValue(int32_t index) const;
  virtual double WeightedDestValue(int32_t index) const;
  virtual double WeightedSourceError(int32_t index) const;
  virtual double WeightedDestError(int32_t index) const;

  virtual int32_t GetValueCount() const;

  // Hook without an implementation in any link class: raises AbstractCallError.
  virtual void Signal(int32_t value);

  // Cell 0; requires the link to have cells.
  double Weight() const;

 protected:
  // Stores cell 0 without a range check (loading and learning rules).
  void StoreWeight(double weight);
  // Stores cell Index without a range check; Index must exist.
  void StoreCell(int32_t index, double value);

  int32_t id_;
  std::vector<double> values_;
  TBaseNode* source_ = nullptr;
  TBaseNode* dest_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// TBaseNode: one unit of the graph, with value and error cells and two link lists.
class TBaseNode {
 public:
  // New identifier; ValueCount value cells and ErrorCount error cells of 0.0 (none, and a
  // count of 0, for a count <= 0); both lists empty.
  TBaseNode(int32_t value_count, int32_t error_count);
  virtual ~TBaseNode() = default;
  TBaseNode(const TBaseNode&) = delete;
  TBaseNode& operator=(const TBaseNode&) = delete;

  // Links entering this node, in the order they were attached.
  TLList<TBaseLink>& InLinks() { return in_links_; }
  // Links leaving this node, in the order they were attached.
  TLList<TBaseLink>& OutLinks() { return out_links_; }

  // Computes the node's output into value cell Index. Abstract here.
  virtual void Run(int32_t index);
  // One learning step. Abstract here.
  virtual void Learn();
  // Hook without an implementation in any node class. Abstract here.
  virtual void Signal(int32_t value);

  // Node record: ID, ValueCount, values, ErrorCount, errors. Loading replaces both arrays with
  // the stored ones; it refuses (NetworkStreamError) a negative count, fewer cells than this
  // kind of node uses, or more cells than the stream holds, and then changes nothing.
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const;

  // Requires 0 <= Index < ValueCount.
  virtual double GetValue(int32_t index) const;
  // Requires 0 <= Index < ValueCount, then -1.0 <= Value <= 1.0.
  virtual void SetValue(int32_t index, double value);
  // Requires 0 <= Index < ErrorCount.
  virtual double GetError(int32_t index) const;
  // Requires 0 <= Index < ErrorCount, then -1.0 <= Value <= 1.0.
  virtual void SetError(int32_t index, double value);

  virtual int32_t GetID() const;
  int32_t GetValueCount() const { return static_cast<int32_t>(values_.size()); }
  int32_t GetErrorCount() const { return static_cast<int32_t>(errors_.size()); }

  // Attaches Link from this node to ToNode: appended to this node's OutLinks and to ToNode's
  // InLinks, then its source and destination are set. On failure nothing stays attached.
  virtual void LinkTo(TBaseNode& to_node, TBaseLink& link);
  // Does nothing in a node; a network forwards it to its nodes.
  virtual void Notify(int32_t value);
  // FromNode.LinkTo(ToNode, Link); the receiver plays no part.
  virtual void Connect(TBaseNode& from_node, TBaseNode& to_node, TBaseLink& link);
  // Detaches the first link of FromNode.OutLinks that enters ToNode from both lists and
  // clears its ends; returns 1, or 0 when there is none. The link is not released here: it
  // belongs to the network whose table lists it, and only that network's Disconnect (see
  // TBaseNetwork) releases it together with its table entry.
  virtual int32_t Disconnect(TBaseNode& from_node, TBaseNode& to_node);

 protected:
  // The fewest value and error cells this kind of node works with; a stored record with fewer
  // is refused on loading.
  virtual int32_t UsedValueCount() const { return 0; }
  virtual int32_t UsedErrorCount() const { return 0; }

  // Unchecked-by-range access for the node's own rules; the cell must exist.
  double Cell(int32_t index) const;
  void StoreCell(int32_t index, double value);
  double ErrorCell(int32_t index) const;
  void StoreErrorCell(int32_t index, double value);

  // Detaches and returns the first link from FromNode to ToNode (Disconnect's walk), with its
  // ends cleared; nil when there is none.
  static TBaseLink* DetachLink(TBaseNode& from_node, TBaseNode& to_node);

  int32_t id_;
  std::vector<double> values_;
  std::vector<double> errors_;
  TLList<TBaseLink> in_links_;
  TLList<TBaseLink> out_links_;
};

// ---------------------------------------------------------------------------------------------
// TFeedForwardNode: output = Transfer(sum of source output x weight over the in-links).
class TFeedForwardNode : public TBaseNode {
 public:
  using TBaseNode::TBaseNode;

  // Sum := 0.0, then for each in-link from the head, Sum := Sum + source cell 0 x weight, in
  // Double step by step; value cell Index := Transfer(Sum). Requires 0 <= Index < ValueCount.
  void Run(int32_t index) override;
  // The identity here; subclasses supply sign or logistic.
  virtual double Transfer(double x) const;
};

// ---------------------------------------------------------------------------------------------
// TInputNode: Count value cells and Count error cells, written from outside; never run.
class TInputNode : public TBaseNode {
 public:
  explicit TInputNode(int32_t count);

 protected:
  int32_t UsedValueCount() const override { return 1; }
  int32_t UsedErrorCount() const override { return 1; }
};

// ---------------------------------------------------------------------------------------------
// TBiasNode: an input node that always reads Value and ignores writes, so a network writing
// its inputs leaves the constant alone.
class TBiasNode : public TInputNode {
 public:
  // One cell each; value cell 0 := Value, without a range check.
  explicit TBiasNode(double value);
  // Value cell 0, whatever Index says.
  double GetValue(int32_t index) const override;
  // Does nothing.
  void SetValue(int32_t index, double value) override;
};

// ---------------------------------------------------------------------------------------------
// TBaseNetwork: a node that owns a table of nodes and a table of links, both in creation
// order. Subclasses create and wire them in CreateNetwork from NodeCount, LinkCount and their
// own shape parameters; the topology is never read from a stream.
class TBaseNetwork : public TBaseNode {
 public:
  // A node with no cells and empty lists; no tables, counts 0.
  TBaseNetwork();
  // DestroyNetwork, then the node's own destruction.
  ~TBaseNetwork() override;

  // Signal on every node in table order, then on every link in table order.
  void Signal(int32_t value) override;
  // Notify on every node in table order.
  void Notify(int32_t value) override;
  // As TBaseNode::Disconnect; when the detached link is listed in this network's link table,
  // its entry is removed (later links move up one place, LinkCount falls by 1) and the link is
  // released. A link of any other owner is only detached.
  int32_t Disconnect(TBaseNode& from_node, TBaseNode& to_node) override;

  // Creates every node and link from NodeCount and LinkCount and wires them. Abstract here.
  virtual void CreateNetwork();
  // Releases every node in table order, then every link in table order, then both tables;
  // the counts become 0.
  virtual void DestroyNetwork();
  // Copies values arriving on the network's own InLinks into its input nodes. Abstract here.
  virtual void GatherInputs();
  // NodeCount, LinkCount, every node record in table order, every link record in table order.
  virtual void SaveNodesAndLinks(TStream& stream) const;
  // Reads NodeCount and LinkCount, checks them (CheckStoredCounts), rebuilds the network
  // from them with CreateNetwork and loads every node and link record into it in table order.
  // Counts that fail the check leave the network unchanged.
  virtual void LoadNodesAndLinks(TStream& stream);

  int32_t NodeCount() const { return node_count_; }
  int32_t LinkCount() const { return link_count_; }
  // Table entries; require 0 <= Index < count. The link table keeps the weights reachable in
  // table order: GetLink(k).Weight().
  TBaseNode& GetNode(int32_t index) const;
  TBaseLink& GetLink(int32_t index) const;

 protected:
  // Refuses (NetworkStreamError) stored counts that CreateNetwork cannot honour or that the
  // rest of Stream is too short to fill. The base accepts any counts >= 0 whose minimal records
  // fit in the stream.
  virtual void CheckStoredCounts(int32_t node_count, int32_t link_count,
                                 const TStream& stream) const;
  // DestroyNetwork, set the counts, CreateNetwork; empties the network again when
  // CreateNetwork fails.
  void Rebuild(int32_t node_count, int32_t link_count);
  // LoadFromStream of every node, then of every link, in table order.
  void LoadRecords(TStream& stream);
  // Sizes both tables from the counts, every entry empty.
  void AllocateTables();

  int32_t node_count_ = 0;
  int32_t link_count_ = 0;
  std::vector<std::unique_ptr<TBaseNode>> nodes_;
  std::vector<std::unique_ptr<TBaseLink>> links_;
};

}  // namespace ocrb

#endif  // OCRB_NEURAL_BASE_H_
