# Read by CTest after the discovered tests are defined. These tests encode long AAC signals on
# every core the machine has: one at a time, so that none is slowed by the others. (Under the
# sanitizers some of them are not built; naming them there is harmless.)
set_tests_properties(
    ExportPipeline/AnAacFile.AndItsFiguresAreTheSameOnAnyNumberOfCores/1_threads
    ExportPipeline/AnAacFile.AndItsFiguresAreTheSameOnAnyNumberOfCores/2_threads_held
    ExportPipeline/AnAacFile.AndItsFiguresAreTheSameOnAnyNumberOfCores/4_threads_held
    ExportPipeline/AnAacFile.AndItsFiguresAreTheSameOnAnyNumberOfCores/8_threads_held
    ExportPipeline.LoudnessTargetsKeepTheTruePeakUnderTheCeiling
    ExportPipeline/LossyExport.LandsUnderTheCeilingAsLoudAsItAllowsAndReportsTheFile/hits_aac128_48000_podcast_joined
    ExportPipeline/LossyExport.LandsUnderTheCeilingAsLoudAsItAllowsAndReportsTheFile/clipped_aac256_48000_streaming_joined
    ExportPipeline/LossyExport.LandsUnderTheCeilingAsLoudAsItAllowsAndReportsTheFile/ducked_aac128_48000_podcast_joined
    ExportPipeline/LossyExport.LandsUnderTheCeilingAsLoudAsItAllowsAndReportsTheFile/pop_aac256_48000_streaming_joined
    ExportPipeline/HitsOverAQuietBed.AreAsLoudAsOneEncoderOverTheWholeSignalAllows/100_s
    ExportPipeline/HitsOverAQuietBed.AreAsLoudAsOneEncoderOverTheWholeSignalAllows/240_s
    AacStretches/JoinedStream.IsOneFileAndItsPeaksAreWhatItDecodesTo/2
    AacStretches/JoinedStream.IsOneFileAndItsPeaksAreWhatItDecodesTo/3
    AacStretches/JoinedStream.IsOneFileAndItsPeaksAreWhatItDecodesTo/4
    AacStretches/JoinedStream.IsOneFileAndItsPeaksAreWhatItDecodesTo/5
    PROPERTIES RESOURCE_LOCK all_cores)
