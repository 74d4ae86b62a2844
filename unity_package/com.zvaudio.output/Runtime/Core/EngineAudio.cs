namespace ZVAudio.Output
{
    // The engine's audio settings as the component reads them. With audio
    // disabled in the project settings the rate and the block length read 0.
    public struct EngineAudio
    {
        public readonly int SampleRate;
        public readonly SpeakerLayout Layout;
        public readonly int BlockFrames;

        public EngineAudio(int sampleRate, SpeakerLayout layout, int blockFrames)
        {
            SampleRate = sampleRate;
            Layout = layout;
            BlockFrames = blockFrames;
        }
    }
}
