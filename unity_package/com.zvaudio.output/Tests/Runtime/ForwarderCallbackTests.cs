using System;
using NUnit.Framework;

namespace ZVAudio.Output.Tests
{
    // What the component does with an exception from one of its engine
    // callbacks or from binding: says it once, closes, gives up, and lets
    // nothing out, so the engine's other handlers of the same event still run.
    [TestFixture]
    public sealed class ForwarderCallbackTests
    {
        private static readonly EngineAudio kStereo = new EngineAudio(48000, SpeakerLayout.Stereo, 256);

        [Test]
        public void AnExceptionIsSaidOnceAndNeverLeaves()
        {
            var log = new RecordingLog();
            var controller = new ForwarderController(log, new AudioForwarder(() => { }, true));
            var failure = new InvalidOperationException("boom");
            controller.Fail(failure);
            controller.Fail(failure);
            controller.Update();
            log.Expect("exception in a callback",
                       "error: stopped after an unexpected InvalidOperationException (boom); the forwarder " +
                           "disables itself");
            Assert.IsTrue(controller.GaveUp, "gives up");
            Assert.IsFalse(controller.Forwarder.IsOpen, "output closed");
            Assert.IsFalse(controller.Forwarder.Forward(new float[512], 2, false), "forwards nothing after");
        }

        [Test]
        public void WhateverBindingThrowsBecomesOneMessage()
        {
            var cases = new[] {
                new { Thrown = (Exception)new NotSupportedException("Not implemented."),
                      Said = "error: could not bind the native plug-in ZVAudioOutput (NotSupportedException: Not implemented.)",
                      Status = AudioForwarder.OpenResult.BindFailed },
                new { Thrown = (Exception)new BadImageFormatException("wrong architecture"),
                      Said = "error: could not bind the native plug-in ZVAudioOutput (BadImageFormatException: wrong architecture)",
                      Status = AudioForwarder.OpenResult.BindFailed },
                new { Thrown = (Exception)new EntryPointNotFoundException("GetAudioOutputLatencyStats"),
                      Said = "error: out of date (it lacks GetAudioOutputLatencyStats)",
                      Status = AudioForwarder.OpenResult.PluginOutOfDate },
            };
            foreach (var c in cases)
            {
                var log = new RecordingLog();
                Exception thrown = c.Thrown;
                var controller = new ForwarderController(log, new AudioForwarder(() => { throw thrown; }, true));
                controller.Open(kStereo);
                controller.Update();
                controller.Update();
                log.Expect(c.Thrown.GetType().Name, c.Said);
                Assert.AreEqual(c.Status, controller.Forwarder.Status, c.Thrown.GetType().Name + ": status");
                Assert.IsTrue(controller.GaveUp, c.Thrown.GetType().Name + ": gives up");
            }
        }
    }
}
