#pragma once
// The style sheet that lets skinned controls be exactly as small as their pictures: picture
// buttons without padding or frame, and check and radio boxes of 13 x 13 pixels.

void InstallSkinStyles();
