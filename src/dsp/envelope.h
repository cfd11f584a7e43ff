#pragma once

class Envelope
{
public:
    virtual ~Envelope() = default;
    virtual float advance(double dt) = 0;
    virtual bool isActive() = 0;
    virtual void noteOn(double amplitude) = 0;
    virtual void noteOff() = 0;
};
