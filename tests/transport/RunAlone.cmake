# Read by CTest after the discovered tests are defined.
set_tests_properties(PulseNullSink.PlaybackPlaysToTheLastFrame PulseNullSink.ARecordingLinesUpWithWhatWasHeard
                     PROPERTIES RUN_SERIAL TRUE)
