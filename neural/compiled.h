// A layered back-propagation network compiled for the forward pass: every layer pair as one
// dense weight matrix, source-major (the weights leaving source s lie side by side, one per
// destination unit, padded to a multiple of four), and every unit's value in one array. It is
// made from the network's stream alone; reading needs nothing else of the network.
//
// The pass gives the same bits as the object model's TBackpropNetwork::Run. Each unit's sum
// still starts at +0.0 and adds source value x weight one source at a time in the unit's own
// in-link order; what runs side by side is the sums of different units, never the terms of one
// sum. Two shortcuts are exact: a source value of exactly 0.0 adds a zero that cannot change a
// sum that never becomes -0.0 (so it is skipped), and a source value of 1.0 adds the weight
// itself. Both need finite weights (0.0 x infinity is NaN), so a network holding any other
// weight is run without them: every term a product, in order, with the portable kernel, which
// gives NaN wherever the graph does (which NaN, sign and payload, is the compiler's choice of
// operand order in either form). Each unit's output is the same Logistic the node calls.
//
// The kernels come in a portable form, an AVX2 form and an AVX-512 form, chosen at run time;
// none fuses a multiply with an add.
#ifndef OCRB_NEURAL_COMPILED_H_
#define OCRB_NEURAL_COMPILED_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace ocrb {

// Largest layer count a stored back-propagation network may state.
constexpr int32_t kMaxStoredLayers = 1024;

// The parts of a stored back-propagation network the forward pass needs, read straight from
// its stream bytes.
struct TStoredNetwork {
  std::vector<int32_t> LayerSizes;
  std::vector<double> InputValues;  // value cell 0 of every input node
  // Weights of layer pair L in link order: destination-major, source-minor.
  std::vector<std::vector<double>> Weights;
};

// Parses a back-propagation network stream. Refuses (raising, as loading would) exactly the
// streams that TBackpropNetwork::LoadFromStream refuses: a bad header, counts that are not the
// sums of the layer sizes, node records with negative or too few cells or more cells than the
// rest holds, and a stream that ends before the last link record.
TStoredNetwork ParseBackpropStream(const uint8_t* data, size_t size);

// Which kernels run the sums.
enum class TKernel { kPortable, kAvx2, kAvx512 };
// AVX-512 when the processor and the system have it, else AVX2 when the processor has it,
// else portable.
TKernel BestKernel();
// Whether the processor can run the AVX2 kernel.
bool HasAvx2();
// Whether the processor (with AVX2) and the system can run the AVX-512 kernel.
bool HasAvx512();
// Every kernel this processor can run, portable first.
std::vector<TKernel> RunnableKernels();

class TCompiledNetwork {
 public:
  // False when Stored does not describe a layered network (fewer than two layers, or weight
  // lists that do not match the layer sizes); the compiled copy is then empty.
  bool Compile(const TStoredNetwork& stored);
  void Clear();
  bool Empty() const { return layer_sizes_.empty(); }
  // Whether every weight is finite, so that passes may skip zero inputs and run the vector
  // kernels; otherwise every pass is the plain portable one.
  bool AllWeightsFinite() const { return all_finite_; }

  int32_t InputCount() const { return layer_sizes_.empty() ? 0 : layer_sizes_.front(); }
  int32_t OutputCount() const { return layer_sizes_.empty() ? 0 : layer_sizes_.back(); }
  int32_t UnitCount() const { return static_cast<int32_t>(values_.size()) - InputCount(); }

  // One forward pass. Inputs[0 .. Count-1] replace the first Count input values (Count must
  // not exceed InputCount); inputs after them keep the values the network was compiled with.
  // Kernel is used when every weight is finite.
  void Run(const double* inputs, int32_t count, TKernel kernel);
  void Run(const double* inputs, int32_t count) { Run(inputs, count, kernel_); }

  // Output of output unit Index after Run.
  double Output(int32_t index) const { return values_[static_cast<size_t>(output_start_ + index)]; }
  // Value cell 0 of every node in table order (inputs, hidden units, outputs) after Run.
  const std::vector<double>& Values() const { return values_; }

  void SetKernel(TKernel kernel) { kernel_ = kernel; }

 private:
  struct Layer {
    int32_t Sources = 0;
    int32_t Units = 0;
    int32_t Stride = 0;           // Units rounded up to a multiple of 4
    std::vector<double> Weights;  // Sources x Stride, source-major, padding 0.0
  };
  bool Build(const std::vector<int32_t>& sizes);

  std::vector<int32_t> layer_sizes_;
  std::vector<Layer> layers_;
  std::vector<double> values_;
  std::vector<double> sums_;
  std::vector<int32_t> active_;  // inputs that are not 0.0
  int32_t output_start_ = 0;
  bool all_finite_ = true;
  TKernel kernel_ = BestKernel();
};

namespace kernels {
// Lists in Active, in order, every S below Count whose X[S] is not 0.0 (NaN included); returns
// how many. Active has room for Count.
int32_t ListActivePortable(const double* x, int32_t count, int32_t* active);
int32_t ListActiveAvx2(const double* x, int32_t count, int32_t* active);
int32_t ListActiveAvx512(const double* x, int32_t count, int32_t* active);
// Sums[t] := Sums[t] + X x Weights[s * Stride + t] for every source s listed in Active, in
// that order, and every t below Stride; X of 1.0 adds the weight itself.
void AccumulatePortable(const double* x, const int32_t* active, int32_t active_count,
                        const double* weights, int32_t stride, double* sums);
void AccumulateAvx2(const double* x, const int32_t* active, int32_t active_count,
                    const double* weights, int32_t stride, double* sums);
void AccumulateAvx512(const double* x, const int32_t* active, int32_t active_count,
                      const double* weights, int32_t stride, double* sums);
// The same over every source 0 .. Count - 1, each term a product (X x weight, exact for 0.0
// and 1.0 too): for layers whose sources are units, which are seldom exactly 0.0.
void AccumulateAllPortable(const double* x, int32_t count, const double* weights, int32_t stride,
                           double* sums);
void AccumulateAllAvx2(const double* x, int32_t count, const double* weights, int32_t stride,
                       double* sums);
void AccumulateAllAvx512(const double* x, int32_t count, const double* weights, int32_t stride,
                         double* sums);
}  // namespace kernels

}  // namespace ocrb

#endif  // OCRB_NEURAL_COMPILED_H_
