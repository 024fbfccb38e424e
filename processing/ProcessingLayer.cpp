// The offline audio engine: decoding, effects, loudness, export, spectral processing.
namespace tessoral::processing {
int layerVersion() { return 1; }
}  // namespace tessoral::processing
